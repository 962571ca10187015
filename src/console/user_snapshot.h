// What the console reads and changes of a connection record from the UI
// thread: the liveness test, a copy of the fields the user views show, and
// the two per-connection switches. The server keeps owning the records; the
// console only holds weak references to them.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "server/server.h"

namespace talvek::console {

// The record when it is still in the server's registry, else null.
std::shared_ptr<server::ConnectionRecord> LiveRecord(server::Server& server,
                                                     const std::weak_ptr<server::ConnectionRecord>& record);

// The connection's own address (dotted IPv4 or IPv6 text), as accepted (a
// PORT command may name another host in the record's peer address field).
std::string ConnectionAddress(const server::ConnectionRecord& record);

// A copy of a record at one moment; default values for a connection gone.
struct UserSnapshot {
  bool monitor = false;
  bool file_lists = false;
  std::time_t connected_since = 0;
  std::time_t last_activity = 0;
  std::string peer_address;
  std::string display_name;
  std::string current_directory;
  std::string uploads_list;
  std::string downloads_list;
  std::string last_command_line;
  std::string user_name;
  std::string password;
};

// Copies `record` while holding its usage gate. The switches are read on the
// control thread, which is where they are changed (bounded wait).
UserSnapshot TakeSnapshot(server::Server& server, const std::shared_ptr<server::ConnectionRecord>& record);

// Flips the monitor switch or the file lists switch on the control thread.
void ToggleMonitor(server::Server& server, const std::weak_ptr<server::ConnectionRecord>& record);
void ToggleFileLists(server::Server& server, const std::weak_ptr<server::ConnectionRecord>& record);

// "\r\nHost name: ...\r\nIP Address: ..." up to the last command and "\r\n\r\n".
std::string UserInformationText(const UserSnapshot& user);
// The downloads list and the uploads list, "None" for an empty one.
std::string FileListsText(const UserSnapshot& user);
// Local time as "%Y-%m-%d %H:%M:%S"; "" for 0 (no connection).
std::string LocalTimeText(std::time_t when);

}  // namespace talvek::console
