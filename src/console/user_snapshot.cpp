#include "console/user_snapshot.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace talvek::console {

namespace {

// A short wait: the control thread answers at once unless it is busy.
constexpr std::chrono::milliseconds kFlagWait{500};

struct Switches {
  bool monitor = false;
  bool file_lists = false;
};

Switches ReadSwitches(server::Server& server, const std::shared_ptr<server::ConnectionRecord>& record) {
  auto read = [record] { return Switches{record->monitor, record->record_file_lists}; };
  // A control thread that does not answer in time: show the values as seen here.
  return server.callOnControlThread<Switches>(read, kFlagWait).value_or(read());
}

template <typename Change>
void ChangeOnControlThread(server::Server& server, const std::weak_ptr<server::ConnectionRecord>& record,
                           Change change) {
  server.post([record, change] {
    if (auto live = record.lock()) change(*live);
  });
}

}  // namespace

std::shared_ptr<server::ConnectionRecord> LiveRecord(server::Server& server,
                                                     const std::weak_ptr<server::ConnectionRecord>& record) {
  auto held = record.lock();
  if (!held) return nullptr;
  auto registry = server.registrySnapshot();
  return std::find(registry.begin(), registry.end(), held) != registry.end() ? held : nullptr;
}

std::string ConnectionAddress(const server::ConnectionRecord& record) { return record.peer_ip.to_string(); }

UserSnapshot TakeSnapshot(server::Server& server, const std::shared_ptr<server::ConnectionRecord>& record) {
  UserSnapshot user;
  if (!record) return user;
  // Read before taking the gate: a removal waiting for the gate holds up the
  // control thread, which this read waits for.
  Switches switches = ReadSwitches(server, record);
  server::GateHold hold(record->gate);
  user.monitor = switches.monitor;
  user.file_lists = switches.file_lists;
  user.connected_since = record->connected_since;
  user.last_activity = record->last_activity.load();
  user.peer_address = ConnectionAddress(*record);
  std::lock_guard lock(record->text_mutex);
  user.display_name = record->display_name;
  user.current_directory = record->current_directory;
  user.uploads_list = record->uploads_list;
  user.downloads_list = record->downloads_list;
  user.last_command_line = record->last_command_line;
  user.user_name = record->user_name;
  user.password = record->password;
  return user;
}

void ToggleMonitor(server::Server& server, const std::weak_ptr<server::ConnectionRecord>& record) {
  ChangeOnControlThread(server, record, [](server::ConnectionRecord& live) { live.monitor = !live.monitor; });
}

void ToggleFileLists(server::Server& server, const std::weak_ptr<server::ConnectionRecord>& record) {
  ChangeOnControlThread(server, record,
                        [](server::ConnectionRecord& live) { live.record_file_lists = !live.record_file_lists; });
}

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
