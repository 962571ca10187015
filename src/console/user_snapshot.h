// The texts the console's user windows show of a connection's copy.
#pragma once

#include <ctime>
#include <string>

#include "server/operator_desk.h"

namespace talvek::console {

// A copy of a connection at one moment (from server::OperatorDesk).
using UserSnapshot = server::ConnectionSnapshot;

// "\r\nHost name: ...\r\nIP Address: ..." up to the last command and "\r\n\r\n".
std::string UserInformationText(const UserSnapshot& user);
// The downloads list and the uploads list, "None" for an empty one.
std::string FileListsText(const UserSnapshot& user);
// Local time as "%Y-%m-%d %H:%M:%S"; "" for 0 (no connection).
std::string LocalTimeText(std::time_t when);

}  // namespace talvek::console
