#include "console/user_snapshot.h"

#include <ctime>

namespace talvek::console {

std::string LocalTimeText(std::time_t when) {
  if (when == 0) return {};
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string UserInformationText(const UserSnapshot& user) {
  return "\r\nHost name: " + user.display_name + "\r\nIP Address: " + user.peer_address +
         "\r\nLogon: " + user.user_name + "\r\nPassword: " + user.password +
         "\r\nWorking dir: " + user.current_directory + "\r\nConnected since: " +
         LocalTimeText(user.connected_since) + "\r\nLast activity: " + LocalTimeText(user.last_activity) +
         "\r\nLast command: " + user.last_command_line + "\r\n\r\n";
}

std::string FileListsText(const UserSnapshot& user) {
  std::string text = "\r\n" + user.downloads_list;
  if (user.downloads_list == "Downloads:\r\n") text += "None\r\n";
  text += "\r\n" + user.uploads_list;
  if (user.uploads_list == "Uploads:\r\n") text += "None\r\n\r\n";
  return text;
}

}  // namespace talvek::console
