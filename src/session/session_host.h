// What sessions, command handlers and transfers need from the server that
// hosts them, and nothing more: the settings, the log and monitor, the
// accounts check, the caches and counters, the registry's removal and the
// control thread. The server implements it; the layers below it see only
// this. Members say on which thread they may be used.
#pragma once

#include <asio/io_context.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cache/cache_store.h"
#include "protocol/command_table.h"
#include "protocol/help_table.h"
#include "session/connection_record.h"
#include "settings/settings.h"

namespace talvek::ftp {
struct CommandContext;
class ListenSocket;
}  // namespace talvek::ftp

namespace talvek::tls {
class TlsContext;
}  // namespace talvek::tls

namespace talvek::transfer {
class TransferEngine;
}  // namespace talvek::transfer

namespace talvek::session {

// What a named user's login loads into the connection record.
struct AccountLogin {
  uint8_t permissions = 0;
  std::string home_directory;  // the FTP root when the account has none
  std::string uploads_directory;
  bool redirect_uploads = true;
  bool custom_logon_message = false;
  std::string logon_message_file;
};

class SessionHost {
 public:
  virtual ~SessionHost() = default;

  // --- control thread ---
  // Runs the handler of `command`: the dispatcher of the layer above.
  virtual std::string runCommand(ftp::Command command, ftp::CommandContext& context, std::string& argument) = 0;
  // A new connection was accepted into `record`: admit or refuse it.
  virtual void admit(const std::shared_ptr<server::ConnectionRecord>& record) = 0;
  // The passive listener of `record` has a data connection pending.
  virtual void acceptDataConnection(const std::shared_ptr<server::ConnectionRecord>& record,
                                    ftp::ListenSocket& listener) = 0;
  // Removes the connection from the registry and closes it.
  virtual void remove(const std::shared_ptr<server::ConnectionRecord>& record) = 0;
  virtual asio::io_context& context() = 0;
  virtual const std::string& greeting() const = 0;
  // The "230- " lines of the general logon message ("" when none).
  virtual const std::string& logonMessage() const = 0;
  virtual const std::string& serverAddress() const = 0;
  virtual const ftp::HelpTable& helpTable() const = 0;

  // --- any thread ---
  // Queues `work` for the control thread; it owns what it touches.
  virtual void post(std::function<void()> work) = 0;
  virtual settings::Settings settings() const = 0;
  virtual server::RecordDefaults recordDefaults() const = 0;
  virtual server::ConnectionCounter& counter() = 0;
  virtual int connectionCount() const = 0;
  virtual std::vector<std::shared_ptr<server::ConnectionRecord>> registrySnapshot() const = 0;
  virtual bool accountExists(const std::string& name) const = 0;
  // The account's login data when `password` is right; nothing otherwise.
  virtual std::optional<AccountLogin> checkAccount(const std::string& name, const std::string& password) const = 0;
  // A password from `address` was refused; returns how long the reply waits.
  virtual std::chrono::milliseconds noteFailedLogin(const std::string& address) = 0;
  // How long a client may leave its replies unread once its queue is full.
  virtual std::chrono::milliseconds sendStallLimit() const = 0;
  virtual void refreshTitle() = 0;
  // A connection's line in the user list changed (its name, or TLS).
  virtual void userListChanged() = 0;
  // The TLS context in force; null while TLS is off.
  virtual std::shared_ptr<const tls::TlsContext> tlsContext() const = 0;
  // An event line: to the log (when enabled) and the monitor.
  virtual void logEvent(std::string text) = 0;
  // A text for the log file only, when logging is on.
  virtual void handToLog(std::string text) = 0;
  virtual void appendMonitor(const std::string& text) = 0;
  // The socket error text; known codes are also logged unless `quiet`.
  virtual std::string socketErrorText(int code, bool quiet) = 0;
  virtual cache::CacheStore& directoryCache() = 0;
  virtual cache::CacheStore& fileCache() = 0;
  // Lookups of the file cache (hits and misses), reported by XSTS.
  virtual uint64_t fileCacheLookups() const = 0;
  // The workers that run transfers (defined by the transfer layer).
  virtual transfer::TransferEngine& transferEngine() = 0;

  // Byte totals of all transfers.
  std::atomic<uint64_t> bytes_sent{0};
  std::atomic<uint64_t> bytes_received{0};
  // How long a data connection may take to arrive (tests shorten it).
  std::atomic<int> data_connection_timeout_ms{30000};
};

}  // namespace talvek::session
