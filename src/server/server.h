// The server object: the settings as loaded, the local network identity,
// the control thread and control listener, the connection registry with its
// lock, the account store, the log thread and the counters. One per process
// in the daemon; tests make their own. It outlives every connection record.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio/steady_timer.hpp>

#include "cache/cache_refresh.h"
#include "accounts/account_store.h"
#include "cache/cache_store.h"
#include "filter/filter_list.h"
#include "session/control_thread.h"
#include "protocol/help_table.h"
#include "log/log_thread.h"
#include "session/connection_record.h"
#include "server/login_throttle.h"
#include "server/operator_view.h"
#include "server/reverse_name_cache.h"
#include "session/session_host.h"
#include "settings/settings.h"
#include "transfer/transfer_engine.h"

namespace talvek::ftp {
class ListenSocket;
}
namespace talvek::tls {
class TlsContext;
}

namespace talvek::server {

// Finds the host name of a dotted IPv4 address; calls `done` with the name,
// or an empty text, on the control thread.
using ReverseLookup =
    std::function<void(asio::io_context&, const std::string& address, std::function<void(std::string)> done)>;

using session::AccountLogin;

// The outcome of the latest start of the listener.
struct StartResult {
  bool listening = false;
  uint16_t port = 0;
  int error_code = 0;  // socket error code of a failed start
};

// Asks the operator which of several local addresses to bind to; returns
// the chosen dotted address ("" binds to every address).
using AddressChooser = std::function<std::string(const std::vector<std::string>& addresses)>;

// What initialisation needs from its caller.
struct ServerEnvironment {
  std::filesystem::path program_directory;  // read-only data: the HELP ini
  std::filesystem::path filters_directory;  // Filters.txt; empty: the program directory
  std::filesystem::path settings_directory;  // a generated TLS certificate; empty: in memory
  std::string program_name = "talvek-ftpd";
  bool auto_start_switch = false;  // "/s" on the command line
  bool background_switch = false;  // "/b" on the command line
  std::string default_ip;          // "DefaultIP"
  ReverseLookup reverse_lookup;    // empty: the system resolver, bounded
  // Asked on a host with several addresses when default_ip is empty;
  // unset (the daemon): every address is used.
  AddressChooser choose_address;
  // The bound of the transfer workers; 0: TransferEngine::kMaxWorkers.
  size_t transfer_workers = 0;
};

class Server : public session::SessionHost {
 public:
  explicit Server(OperatorView& view);
  ~Server();  // stops the control thread; all records are gone afterwards
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Start-up in the fixed order, with the settings already loaded into
  // `settings`. Starts the control thread; starts the server when
  // "Auto Start On" is set.
  void initialise(const settings::Settings& settings, const ServerEnvironment& environment);
  // Stops the server, closes every connection (bounded wait) and ends the
  // control thread. The caller saves settings() afterwards.
  void shutdown();

  // Inverts the active flag and posts the start or the stop.
  void toggleActive();
  bool active() const { return active_.load(); }
  // Waits (bounded) for the result of the start posted last.
  std::optional<StartResult> waitForStart(std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Runs `work` on the control thread and waits for it (bounded). A call
  // that times out leaves `work` queued to run later, so `work` must own
  // (capture by value) all it touches, never a reference to a caller's local.
  bool runOnControlThread(std::function<void()> work,
                          std::chrono::milliseconds limit = std::chrono::seconds(5));
  // The same for a result, which lives in shared state until it arrives;
  // nothing when the control thread did not answer in time.
  template <typename Result>
  std::optional<Result> callOnControlThread(std::function<Result()> work,
                                            std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto result = std::make_shared<std::optional<Result>>();
    if (!runOnControlThread([work = std::move(work), result] { *result = work(); }, limit)) return std::nullopt;
    return *result;
  }

  void post(std::function<void()> work) override { control_thread_.post(std::move(work)); }
  // Closes the connection and removes it; any thread.
  void disconnect(std::weak_ptr<ConnectionRecord> record);

  // --- control thread operations ---
  void start();
  void stop();
  void registerRecord(const std::shared_ptr<ConnectionRecord>& record);
  bool perAddressLimitReached(const std::string& peer_address);
  void closeOldestFromAddress(const std::string& peer_address);
  void remove(const std::shared_ptr<ConnectionRecord>& record) override;
  void disconnectAnonymousUsers();
  // Closes every registered connection the IP filter now refuses.
  void recheckFilter();
  // Reads "Filters.txt" from the program directory again into a new list and
  // swaps it in, then re-checks; a file that cannot be read keeps the old
  // list in force and logs one event line. Any thread.
  void reloadFilterList();
  filter::FilterList& filterList() { return filter_list_; }
  std::filesystem::path filtersFile() const;
  // Closes every connection idle for more than the time-out at `now`.
  void idleSweep(std::time_t now);
  // (Re)arms the periodic idle sweep from the settings; off when disabled.
  void armIdleTimer();
  // A new connection was accepted into `record`: admit or refuse it.
  void admit(const std::shared_ptr<ConnectionRecord>& record) override;
  // A password from `address` was refused: counts it for the login throttle
  // (a ban it starts is logged and closes that address's connections) and
  // returns how long the reply waits.
  std::chrono::milliseconds noteFailedLogin(const std::string& address) override;
  // How long a client may leave its replies unread once its queue is full:
  // the idle time-out when on, else a fixed bound.
  std::chrono::milliseconds sendStallLimit() const override;

  // --- named accounts (any thread) ---
  bool accountExists(const std::string& name) const override;
  // The account's login data when `password` is right; nothing otherwise.
  std::optional<AccountLogin> checkAccount(const std::string& name, const std::string& password) const override;
  accounts::AccountStore& accounts() { return accounts_; }
  // Reads the accounts file again (the operator changed it) and swaps the
  // accounts in at once; a file that cannot be read keeps the old accounts
  // in force and logs one event line.
  void reloadAccounts();
  // Puts re-read settings in force (any thread but the control thread; waits,
  // bounded): limits, time-outs, anonymous access (anonymous users go when it
  // was switched off), caches, log file, logon message; a changed port,
  // address or ListenIPv6 restarts the listeners. The passive range and
  // address count from the next PASV or EPSV.
  void applySettings(const settings::Settings& fresh, const std::string& default_ip);
  // Puts the TLS settings in force (see tls_setup.h) and logs what it did;
  // sessions keep the context they began with. Any thread.
  void setUpTls(const settings::TlsSettings& tls);
  // The TLS context in force; null while TLS is off. Any thread.
  std::shared_ptr<const tls::TlsContext> tlsContext() const override;
  void userListChanged() override { view_.userListChanged(); }
  // The "230- " lines of the general logon message ("" when none).
  const std::string& logonMessage() const override { return logon_message_; }

  // --- any thread ---
  void refreshTitle() override;
  // An event line: to the log (when enabled) and, with "\r\n\r\n", the monitor.
  void logEvent(std::string text) override;
  // A text for the log file only, when "EnableLog" is set.
  void handToLog(std::string text) override;
  void appendMonitor(const std::string& text) override { view_.appendMonitorText(text); }
  // The socket error text; known codes are also logged unless `quiet`.
  std::string socketErrorText(int code, bool quiet) override;

  settings::Settings settings() const override;
  void updateSettings(const std::function<void(settings::Settings&)>& change);
  RecordDefaults recordDefaults() const override;

  int connectionCount() const override { return counter_.count.load(); }
  ConnectionCounter& counter() override { return counter_; }
  // Lookups of the file cache (hits and misses), reported by XSTS.
  uint64_t fileCacheLookups() const override { return uint64_t{file_cache_.hits()} + file_cache_.misses(); }
  transfer::TransferEngine& transferEngine() override { return transfer_engine_; }
  // The directory-listing cache and the file cache.
  cache::CacheStore& directoryCache() override { return directory_cache_; }
  cache::CacheStore& fileCache() override { return file_cache_; }
  // Sets both caches' limits, overflow margin and auto refresh from the settings.
  void applyCacheSettings();
  // Overrides sendStallLimit() when not 0 (tests shorten it).
  std::atomic<int> send_stall_limit_ms{0};
  std::vector<std::shared_ptr<ConnectionRecord>> registrySnapshot() const override;
  const std::string& greeting() const override { return greeting_; }
  const ftp::HelpTable& helpTable() const override { return help_table_; }
  const std::string& hostName() const { return host_name_; }
  const std::string& serverAddress() const override { return server_address_; }
  const std::vector<std::string>& localAddresses() const { return local_addresses_; }
  const std::filesystem::path& programDirectory() const { return program_directory_; }
  const std::string& keyText() const { return key_text_; }
  std::string title() const;
  uint16_t listeningPort() const { return listening_port_.load(); }
  asio::io_context& context() override { return control_thread_.context(); }
  log::LogThread& logThread() { return log_thread_; }
  OperatorView& view() { return view_; }

 private:
  // The dispatcher and the passive accept, for the layers below.
  std::string runCommand(ftp::Command command, ftp::CommandContext& context, std::string& argument) override;
  void acceptDataConnection(const std::shared_ptr<ConnectionRecord>& record, ftp::ListenSocket& listener) override;
  // Closes the connection's control socket; then removes the connection
  // (`registered`) or only lets go of its never-registered record.
  void closeConnection(const std::shared_ptr<ConnectionRecord>& record, bool registered);
  // Closes the listeners on the control thread, ends it and joins it.
  void endControlThread();
  void chooseAddress(const settings::Settings& settings);
  void finishStart(StartResult result);
  void restartListener();
  void closeListeners();
  // The IPv6 listener beside the IPv4 one on `port`, when the settings ask for it.
  void startIpv6Listener(uint16_t port);
  void reportAccountsLoad(const accounts::LoadResult& result);
  bool refusedByFilter(const settings::Settings& settings, const std::string& peer_address) const;
  void continueAdmission(const std::shared_ptr<ConnectionRecord>& record, const std::string& host_name);
  // Once the control thread has ended: aborts every transfer and stops the
  // engine, so no record (nor this server) goes while a transfer still
  // touches it.
  void endTransfers();

  OperatorView& view_;
  ConnectionCounter counter_;
  LoginThrottle login_throttle_;
  ReverseNameCache reverse_names_;  // control thread
  filter::FilterList filter_list_;
  mutable std::mutex settings_mutex_;
  settings::Settings settings_;
  ServerEnvironment environment_;
  std::string greeting_;
  ftp::HelpTable help_table_;
  std::string host_name_;
  std::string server_address_;
  std::vector<std::string> local_addresses_;
  std::filesystem::path program_directory_;
  std::filesystem::path filters_directory_;
  std::string key_text_;
  std::string logon_message_;
  accounts::AccountStore accounts_;
  std::string title_text_ = "Talvek FTP";
  mutable std::mutex tls_mutex_;
  std::shared_ptr<const tls::TlsContext> tls_context_;
  std::atomic<bool> tls_unavailable_{false};  // required but not to be had: no listening

  std::atomic<bool> active_{false};
  std::atomic<uint16_t> listening_port_{0};
  std::mutex start_mutex_;
  std::condition_variable start_cv_;
  uint64_t start_requests_ = 0;
  uint64_t start_results_ = 0;
  StartResult last_start_;

  cache::CacheStore directory_cache_;
  cache::CacheStore file_cache_;
  mutable std::mutex registry_mutex_;
  std::condition_variable registry_shrunk_;  // shut-down waits for the last removal
  std::vector<std::shared_ptr<ConnectionRecord>> registry_;
  std::shared_ptr<ftp::ListenSocket> control_listener_;
  std::shared_ptr<ftp::ListenSocket> control_listener_v6_;  // only beside control_listener_

  log::LogThread log_thread_;
  transfer::TransferEngine transfer_engine_;  // stopped before the records go
  ftp::ControlThread control_thread_;  // its thread ends before the rest goes
  asio::steady_timer idle_timer_{control_thread_.context()};
  cache::CacheRefresh directory_refresh_{control_thread_.context(), directory_cache_};
  cache::CacheRefresh file_refresh_{control_thread_.context(), file_cache_};
};

}  // namespace talvek::server
