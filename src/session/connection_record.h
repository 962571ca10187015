// The one shared description of a connected client: its address, login,
// rights, directories and transfer state. Created by the control listener
// for every accepted connection, held by the registry from admission to
// removal (shared_ptr); other threads hold a weak_ptr and the usage gate
// while they read it.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <asio/ip/address.hpp>

#include "platform/manual_reset_event.h"

namespace talvek::ftp {
class ControlConnection;
class ListenSocket;
}  // namespace talvek::ftp

namespace talvek::transfer {
class DataSocket;
}  // namespace talvek::transfer

namespace talvek::platform {
class ConfinedFs;
}  // namespace talvek::platform

namespace talvek::tls {
struct DataProtection;
}  // namespace talvek::tls

namespace talvek::server {

// Counts connection records in existence; a record increments it when made
// and decrements it when destroyed, then calls `changed` (the title refresh).
struct ConnectionCounter {
  std::atomic<int> count{0};
  std::function<void()> changed;
  std::atomic<uint64_t> last_id{0};  // the id of the newest record
};

// Readers on other threads acquire it while they use the record; removal
// waits (bounded) until none holds it.
class UsageGate {
 public:
  void acquire();
  void release();
  bool waitFor(std::chrono::milliseconds timeout) { return idle_.waitFor(timeout); }
  int holders() const { return holders_.load(); }

 private:
  std::mutex mutex_;
  std::atomic<int> holders_{0};
  platform::ManualResetEvent idle_{true};
};

// Holds a record's usage gate for a scope.
class GateHold {
 public:
  explicit GateHold(UsageGate& gate) : gate_(&gate) { gate_->acquire(); }
  ~GateHold() {
    if (gate_) gate_->release();
  }
  GateHold(GateHold&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
  GateHold(const GateHold&) = delete;
  GateHold& operator=(const GateHold&) = delete;

 private:
  UsageGate* gate_;
};

// What a new record copies from the settings.
struct RecordDefaults {
  bool record_file_lists = false;
  bool monitor = false;
  uint16_t data_port = 21;
  std::string current_directory;  // "FTPRootDir"
  std::string uploads_directory;  // "UploadsDir"
};

struct ConnectionRecord {
  ConnectionRecord(ConnectionCounter& counter, const RecordDefaults& defaults);
  ~ConnectionRecord();
  ConnectionRecord(const ConnectionRecord&) = delete;
  ConnectionRecord& operator=(const ConnectionRecord&) = delete;

  int32_t pending_transfer_kind = 0;
  uint32_t peer_port = 0;
  uint8_t permissions = 0;  // 1 read, 2 write, 4 delete
  std::atomic<bool> transfer_pending{false};
  std::atomic<bool> data_connected{false};
  bool record_file_lists = false;
  bool user_accepted = false;
  bool logged_in = false;
  bool monitor = false;
  bool passive = false;
  bool epsv_all = false;  // after EPSV ALL only EPSV sets up data connections
  bool closing = false;
  bool admitted = false;
  bool redirect_uploads = false;
  uint16_t data_port = 21;
  std::atomic<uint32_t> slot_number{0};
  std::atomic<int64_t> restart_offset{0};  // REST; a completed download clears it
  std::atomic<uint8_t> hidden_facts{0};    // facts OPTS MLST left out of MLST and MLSD
  // Counts transfer commands, so a late time-out can tell its own wait.
  uint32_t transfer_serial = 0;
  // Progress of the running transfer, for STAT.
  std::atomic<int64_t> transfer_done{0};
  std::atomic<int64_t> transfer_total{0};
  std::time_t connected_since = 0;
  std::atomic<std::time_t> last_activity{0};

  // Text fields; transfer workers and operator views read them under
  // `text_mutex`, the control thread writes them under it.
  mutable std::mutex text_mutex;
  std::string transfer_argument;
  std::string uploads_list = "Uploads:\r\n";
  std::string downloads_list = "Downloads:\r\n";
  std::string last_command_line;
  std::string user_name;
  std::string password;
  // Local directory paths ending with "/": the working directory always
  // lies below the root, which is the FTP root until a login sets the
  // user's (and again after REIN). Every file operation goes through
  // `root_fs`, the root opened when it was set.
  std::string current_directory;
  std::string uploads_directory;
  std::string root_directory;
  std::shared_ptr<const platform::ConfinedFs> root_fs;
  std::string peer_address;
  std::string host_name;
  std::string display_name;
  // The host the last PORT named, empty before any; limits, the filter and
  // bans use the peer address, the connection's own.
  std::string port_host;

  // Names the connection to the operator; unique per counter, never reused.
  const uint64_t id;
  // The connection's own address, set once when accepted (IPv4 or IPv6).
  asio::ip::address peer_ip;
  UsageGate gate;

  // Explicit FTPS: the control connection is encrypted (views read it);
  // PBSZ came after AUTH TLS; data connections use TLS (PROT P) when
  // data_protection is set. The last two on the control thread only.
  std::atomic<bool> tls_control{false};
  bool tls_pbsz = false;
  std::shared_ptr<const tls::DataProtection> data_protection;

  // Read and written on the control thread only (removal resets them);
  // a transfer takes its own weak handle when it starts.
  std::shared_ptr<transfer::DataSocket> data_socket;
  std::shared_ptr<ftp::ControlConnection> control_connection;
  std::shared_ptr<ftp::ListenSocket> passive_listener;

  // Marks activity now (commands and transfer blocks).
  void touch() { last_activity.store(std::time(nullptr)); }
  std::string displayName() const {
    std::lock_guard lock(text_mutex);
    return display_name;
  }
  std::string peerAddress() const {
    std::lock_guard lock(text_mutex);
    return peer_address;
  }

 private:
  ConnectionCounter& counter_;
};

}  // namespace talvek::server
