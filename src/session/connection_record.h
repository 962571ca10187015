// The one shared description of a connected client: its address, login,
// rights, directories and transfer state. Created by the control listener
// for every accepted connection, held by the registry from admission to
// removal (shared_ptr); other threads hold a shared_ptr or weak_ptr of
// their own while they read it, so removal never waits for a reader.
//
// Every field sits where its thread rule says: `identity` never changes;
// `shared` holds atomics any thread may read; `texts` is reachable only
// under its lock; `control` belongs to the control thread alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/ip/address.hpp>

#include "platform/guarded.h"

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

// What a new record copies from the settings.
struct RecordDefaults {
  bool record_file_lists = false;
  bool monitor = false;
  uint16_t data_port = 21;
  std::string current_directory;  // "FTPRootDir"
  std::string uploads_directory;  // "UploadsDir"
};

// Fixed when the connection is accepted; any thread reads it without a lock.
struct ConnectionIdentity {
  // Names the connection to the operator; unique per counter, never reused.
  uint64_t id = 0;
  // The connection's own address (IPv4 or IPv6) and its text; unspecified
  // and empty when the peer's name could not be had. Limits, the filter and
  // bans use it, never the host a PORT names.
  asio::ip::address peer_ip;
  std::string peer_address;
  uint16_t peer_port = 0;
  std::time_t connected_since = 0;
};

// Read on any thread. Written on the control thread unless noted.
struct PublishedState {
  // Position in the registry, dense from 1 (removal renumbers it).
  std::atomic<uint32_t> slot_number{0};
  // Commands and transfer blocks refresh it; the idle sweep and operator
  // views read it.
  std::atomic<std::time_t> last_activity{0};
  // REST; a completed download (wherever it ran) clears it.
  std::atomic<int64_t> restart_offset{0};
  // Progress of the running transfer, written where it runs, for STAT.
  std::atomic<int64_t> transfer_done{0};
  std::atomic<int64_t> transfer_total{0};
  // The control connection is encrypted (the user list shows it).
  std::atomic<bool> tls_control{false};
  // The operator's switches: the exchange goes to the monitor; completed
  // transfers are added to the file lists.
  std::atomic<bool> monitor{false};
  std::atomic<bool> record_file_lists{false};
};

// Texts operator views and transfers read; only under their lock.
struct SessionTexts {
  std::string display_name;  // the host name, else the peer address
  // The working directory: a local path ending with "/" below the root.
  std::string current_directory;
  // Completed transfers (transfers append to them).
  std::string uploads_list = "Uploads:\r\n";
  std::string downloads_list = "Downloads:\r\n";
  std::string last_command_line;
  std::string user_name;
  std::string password;
};

// The control thread's own state: nothing else reads or writes it (after
// that thread has ended, the server may clear what is left). What a
// transfer needs it copies into its job on the control thread.
struct ControlState {
  bool admitted = false;
  bool closing = false;
  bool user_accepted = false;
  bool logged_in = false;
  uint8_t permissions = 0;  // 1 read, 2 write, 4 delete
  bool redirect_uploads = false;
  uint8_t hidden_facts = 0;  // facts OPTS MLST left out of MLST and MLSD
  std::string host_name;  // from the reverse lookup, escaped; empty when none
  // Local directory paths ending with "/": the root is the FTP root until a
  // login sets the user's (and again after REIN). Every file operation goes
  // through `root_fs`, the root opened when it was set.
  std::string root_directory;
  std::string uploads_directory;
  std::shared_ptr<const platform::ConfinedFs> root_fs;

  // Data connection set-up.
  bool passive = false;
  bool epsv_all = false;  // after EPSV ALL only EPSV sets up data connections
  uint16_t data_port = 21;
  // The host the last PORT named, empty before any.
  std::string port_host;
  // From a transfer command's acceptance until its data socket is disposed.
  bool transfer_pending = false;
  bool data_connected = false;
  // A transfer command waiting for its passive data connection.
  int32_t pending_transfer_kind = 0;
  std::string transfer_argument;
  // Counts transfer commands, so a late time-out can tell its own wait.
  uint32_t transfer_serial = 0;

  // Explicit FTPS: PBSZ came after AUTH TLS; data connections use TLS
  // (PROT P) when data_protection is set.
  bool tls_pbsz = false;
  std::shared_ptr<const tls::DataProtection> data_protection;

  // Removal resets them; a transfer takes its own weak handles when it starts.
  std::shared_ptr<transfer::DataSocket> data_socket;
  std::shared_ptr<ftp::ControlConnection> control_connection;
  std::shared_ptr<ftp::ListenSocket> passive_listener;
};

struct ConnectionRecord {
  // `peer_ip` is nothing when the accepted socket has no peer name.
  ConnectionRecord(ConnectionCounter& counter, const RecordDefaults& defaults,
                   std::optional<asio::ip::address> peer_ip = std::nullopt, uint16_t peer_port = 0);
  ~ConnectionRecord();
  ConnectionRecord(const ConnectionRecord&) = delete;
  ConnectionRecord& operator=(const ConnectionRecord&) = delete;

  const ConnectionIdentity identity;
  PublishedState shared;
  platform::Guarded<SessionTexts> texts;
  ControlState control;

  // Marks activity now (commands and transfer blocks); any thread.
  void touch() { shared.last_activity.store(std::time(nullptr)); }
  std::string displayName() const {
    return texts.with([](const SessionTexts& t) { return t.display_name; });
  }

 private:
  ConnectionCounter& counter_;
};

}  // namespace talvek::server
