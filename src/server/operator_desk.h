// The operator's pull side of the server: copies of the registered
// connections and the commands on one of them, named by id, so a front end
// never holds a record or the control thread's event loop. Any
// thread but the control thread (a copy waits, bounded, for it).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvek::server {

class Server;
struct ConnectionRecord;

// A connection's number, unique for the process; 0 names none.
using ConnectionId = uint64_t;

// A connection at one moment.
struct ConnectionSnapshot {
  ConnectionId id = 0;
  bool monitor = false;
  bool file_lists = false;
  std::time_t connected_since = 0;
  std::time_t last_activity = 0;
  // The connection's own address as accepted (a PORT may name another host).
  std::string peer_address;
  std::string display_name;
  std::string current_directory;
  std::string uploads_list;
  std::string downloads_list;
  std::string last_command_line;
  std::string user_name;
  std::string password;
};

class OperatorDesk {
 public:
  explicit OperatorDesk(Server& server) : server_(server) {}

  // One line of the user list.
  struct Line {
    ConnectionId id = 0;
    std::string display_name;
    bool encrypted = false;  // the control connection is under TLS
  };
  // Every registered connection, in registry order.
  std::vector<Line> connections() const;
  // A copy of the connection; nothing once it has gone.
  std::optional<ConnectionSnapshot> snapshot(ConnectionId id) const;
  // Flip the monitor or the file lists switch (on the control thread).
  void toggleMonitor(ConnectionId id);
  void toggleFileLists(ConnectionId id);
  // Closes the connection, if it is still there.
  void disconnect(ConnectionId id);
  // Adds the connection's own address to the IP filter list file (the
  // operator is told when it cannot be written), then disconnects it.
  void ban(const ConnectionSnapshot& connection);

 private:
  std::shared_ptr<ConnectionRecord> find(ConnectionId id) const;

  Server& server_;
};

}  // namespace talvek::server
