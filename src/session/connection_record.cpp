#include "session/connection_record.h"

#include "session/control_connection.h"
#include "session/listen_socket.h"

namespace talvek::server {

namespace {
ConnectionIdentity MakeIdentity(ConnectionCounter& counter, const std::optional<asio::ip::address>& peer_ip,
                                uint16_t peer_port) {
  ConnectionIdentity identity;
  identity.id = counter.last_id.fetch_add(1) + 1;
  if (peer_ip) {
    identity.peer_ip = *peer_ip;
    identity.peer_address = peer_ip->to_string();
    identity.peer_port = peer_port;
  }
  identity.connected_since = std::time(nullptr);
  return identity;
}
}  // namespace

ConnectionRecord::ConnectionRecord(ConnectionCounter& counter, const RecordDefaults& defaults,
                                   std::optional<asio::ip::address> peer_ip, uint16_t peer_port)
    : identity(MakeIdentity(counter, peer_ip, peer_port)), counter_(counter) {
  shared.record_file_lists.store(defaults.record_file_lists);
  shared.monitor.store(defaults.monitor);
  shared.last_activity.store(identity.connected_since);
  shared.slot_number.store(static_cast<uint32_t>(counter_.count.fetch_add(1) + 1));
  texts.lock()->current_directory = defaults.current_directory;
  control.data_port = defaults.data_port;
  control.uploads_directory = defaults.uploads_directory;
}

ConnectionRecord::~ConnectionRecord() {
  counter_.count.fetch_sub(1);
  if (counter_.changed) counter_.changed();
}

}  // namespace talvek::server
