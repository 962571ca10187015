#include "server/operator_desk.h"

#include <chrono>
#include <cstring>

#include "filter/filter_file.h"
#include "server/server.h"

namespace talvek::server {

namespace {
// A short wait: the control thread answers at once unless it is busy.
constexpr std::chrono::milliseconds kFlagWait{500};

struct Switches {
  bool monitor = false;
  bool file_lists = false;
};

template <typename Change>
void ChangeOnControlThread(Server& server, std::weak_ptr<ConnectionRecord> record, Change change) {
  server.post([record = std::move(record), change] {
    if (auto live = record.lock()) change(*live);
  });
}
}  // namespace

std::shared_ptr<ConnectionRecord> OperatorDesk::find(ConnectionId id) const {
  for (auto& record : server_.registrySnapshot())
    if (record->identity.id == id) return record;
  return nullptr;
}

std::vector<OperatorDesk::Line> OperatorDesk::connections() const {
  std::vector<Line> lines;
  for (const auto& record : server_.registrySnapshot()) {
    lines.push_back({record->identity.id, record->displayName(), record->shared.tls_control.load()});
  }
  return lines;
}

std::optional<ConnectionSnapshot> OperatorDesk::snapshot(ConnectionId id) const {
  auto record = find(id);
  if (!record) return std::nullopt;
  // The switches change on the control thread: read there, the copy shows a
  // toggle queued before it.
  auto read = [record] {
    return Switches{record->shared.monitor.load(), record->shared.record_file_lists.load()};
  };
  // A control thread that does not answer in time: the values as seen here.
  Switches switches = server_.callOnControlThread<Switches>(read, kFlagWait).value_or(read());
  ConnectionSnapshot user;
  user.id = id;
  user.monitor = switches.monitor;
  user.file_lists = switches.file_lists;
  user.connected_since = record->identity.connected_since;
  user.last_activity = record->shared.last_activity.load();
  user.peer_address = record->identity.peer_ip.to_string();
  auto texts = record->texts.lock();
  user.display_name = texts->display_name;
  user.current_directory = texts->current_directory;
  user.uploads_list = texts->uploads_list;
  user.downloads_list = texts->downloads_list;
  user.last_command_line = texts->last_command_line;
  user.user_name = texts->user_name;
  user.password = texts->password;
  return user;
}

void OperatorDesk::toggleMonitor(ConnectionId id) {
  if (auto record = find(id))
    ChangeOnControlThread(server_, record,
                          [](ConnectionRecord& live) { live.shared.monitor = !live.shared.monitor.load(); });
}

void OperatorDesk::toggleFileLists(ConnectionId id) {
  if (auto record = find(id))
    ChangeOnControlThread(server_, record,
                          [](ConnectionRecord& live) {
                            live.shared.record_file_lists = !live.shared.record_file_lists.load();
                          });
}

void OperatorDesk::disconnect(ConnectionId id) {
  if (auto record = find(id)) server_.disconnect(record);
}

void OperatorDesk::ban(const ConnectionSnapshot& connection) {
  // The address, never the name: admission matches entries against addresses.
  auto file = server_.filtersFile();
  if (int error = filter::AppendAndSave(file, server_.filterList(), connection.peer_address))
    server_.view().showMessage("Cannot write " + file.string() + ": " + std::strerror(error), "Talvek FTP",
                               MessageIcon::Warning);
  disconnect(connection.id);
}

}  // namespace talvek::server
