#include "session/connection_record.h"

#include "session/control_connection.h"
#include "session/listen_socket.h"

namespace talvek::server {

void UsageGate::acquire() {
  std::lock_guard lock(mutex_);
  holders_.fetch_add(1);
  idle_.reset();
}

void UsageGate::release() {
  std::lock_guard lock(mutex_);
  if (holders_.fetch_sub(1) <= 1) {
    holders_.store(0);
    idle_.set();
  }
}

ConnectionRecord::ConnectionRecord(ConnectionCounter& counter, const RecordDefaults& defaults)
    : id(counter.last_id.fetch_add(1) + 1), counter_(counter) {
  record_file_lists = defaults.record_file_lists;
  monitor = defaults.monitor;
  data_port = defaults.data_port;
  current_directory = defaults.current_directory;
  uploads_directory = defaults.uploads_directory;
  connected_since = std::time(nullptr);
  last_activity.store(connected_since);
  slot_number.store(static_cast<uint32_t>(counter_.count.fetch_add(1) + 1));
}

ConnectionRecord::~ConnectionRecord() {
  counter_.count.fetch_sub(1);
  if (counter_.changed) counter_.changed();
}

}  // namespace talvek::server
