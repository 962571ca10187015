#include "server/server.h"

#include <asio/post.hpp>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <future>

#include "filter/filter_file.h"
#include "filter/ip_filter.h"
#include "commands/command_dispatch.h"
#include "session/command_context.h"
#include "session/control_connection.h"
#include "session/listen_socket.h"
#include "commands/login_commands.h"
#include "protocol/reply_table.h"
#include "protocol/socket_error_text.h"
#include "platform/system_info.h"
#include "transfer/data_commands.h"
#include "server/tls_setup.h"
#include "transfer/data_socket.h"

namespace talvek::server {

Server::Server(OperatorView& view)
    : view_(view) {
  counter_.changed = [this] { refreshTitle(); };
}

Server::~Server() {
  if (control_thread_.running()) endControlThread();
  endTransfers();
  // Sockets must go while the event loop they belong to still exists.
  std::lock_guard lock(registry_mutex_);
  registry_.clear();
  control_listener_.reset();
  control_listener_v6_.reset();
  counter_.changed = nullptr;
}

void Server::initialise(const settings::Settings& loaded, const ServerEnvironment& environment) {
  // A peer that goes away mid-write must cost an error code, not the process.
  std::signal(SIGPIPE, SIG_IGN);
  environment_ = environment;
  transfer_engine_.limit(environment.transfer_workers);
  active_ = false;
  {
    std::lock_guard lock(settings_mutex_);
    settings_ = loaded;
    if (!settings_.net.alwaysUsePort) settings_.net.port = 21;
  }
  greeting_ = ftp::Reply(220);
  applyCacheSettings();
  chooseAddress(loaded);
  control_thread_.start();
  program_directory_ = environment.program_directory;
  filters_directory_ = environment.filters_directory.empty() ? program_directory_ : environment.filters_directory;
  refreshTitle();
  help_table_.load(program_directory_ / (environment.program_name + ".ini"));
  filter::LoadFilterList(filtersFile(), filter_list_);
  if (environment.auto_start_switch) updateSettings([](auto& s) { s.general.autoStart = 1; });
  key_text_ = std::to_string(static_cast<int32_t>(platform::SystemVolumeSerial()));
  auto current = settings();
  if (!current.logonFile.empty()) reportAccountsLoad(accounts_.load(current.logonFile, key_text_));
  if (current.enableLog && !current.logPath.empty()) {
    if (int error = log_thread_.open(current.logPath))
      view_.showMessage("Cannot open the log file " + current.logPath + ": " + std::strerror(error),
                        "Talvek FTP", MessageIcon::Warning);
  }
  setUpTls(current.tls);
  runOnControlThread([this] { armIdleTimer(); });
  if (current.sendLogonMsg && !current.msgFilePath.empty()) logon_message_ = ftp::BuildLogonMessage(current.msgFilePath);
  if (environment.background_switch) updateSettings([](auto& s) { s.general.runInBackground = 1; });
  if (current.general.autoStart || environment.auto_start_switch) toggleActive();
}

void Server::chooseAddress(const settings::Settings& loaded) {
  host_name_ = platform::LocalHostName();
  local_addresses_ = platform::LocalIPv4Addresses(host_name_);
  if (local_addresses_.size() == 1) {
    server_address_ = local_addresses_.front();
    return;
  }
  // Several addresses: the chosen default, else the operator's choice when
  // someone can be asked, else every address (PASV then names the address
  // the client reached).
  (void)loaded;
  server_address_ = environment_.default_ip;
  if (server_address_.empty() && local_addresses_.size() > 1 && environment_.choose_address)
    server_address_ = environment_.choose_address(local_addresses_);
}

void Server::shutdown() {
  if (!control_thread_.running()) return;
  if (active_) toggleActive();
  // Connections close one by one after the stop; give them a moment.
  {
    std::unique_lock lock(registry_mutex_);
    registry_shrunk_.wait_for(lock, std::chrono::seconds(2), [this] { return registry_.empty(); });
  }
  endControlThread();
  endTransfers();
  log_thread_.flush();
}

void Server::endTransfers() {
  std::vector<std::shared_ptr<transfer::DataSocket>> sockets;
  {
    std::lock_guard lock(registry_mutex_);
    // The control thread has ended: its state is this thread's now.
    for (const auto& record : registry_)
      if (record->control.data_socket) sockets.push_back(std::move(record->control.data_socket));
  }
  // Running transfers see their abort; the engine joins its workers.
  for (const auto& socket : sockets) socket->abort();
  transfer_engine_.stop();
  sockets.clear();
}

void Server::toggleActive() {
  bool now_active = !active_.load();
  active_ = now_active;
  if (now_active) {
    std::lock_guard lock(start_mutex_);
    ++start_requests_;
  }
  post([this, now_active] { now_active ? start() : stop(); });
}

std::optional<StartResult> Server::waitForStart(std::chrono::milliseconds limit) {
  std::unique_lock lock(start_mutex_);
  if (!start_cv_.wait_for(lock, limit, [this] { return start_results_ >= start_requests_; }))
    return std::nullopt;
  return last_start_;
}

bool Server::runOnControlThread(std::function<void()> work, std::chrono::milliseconds limit) {
  if (control_thread_.onThisThread()) {
    work();
    return true;
  }
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  asio::post(context(), [work = std::move(work), done] {
    work();
    done->set_value();
  });
  return finished.wait_for(limit) == std::future_status::ready;
}

std::string Server::runCommand(ftp::Command command, ftp::CommandContext& context, std::string& argument) {
  return ftp::RunCommand(command, context, argument);
}

void Server::acceptDataConnection(const std::shared_ptr<ConnectionRecord>& record, ftp::ListenSocket& listener) {
  transfer::AcceptDataConnection(*this, record, listener);
}

void Server::endControlThread() {
  control_thread_.end([this] {
    idle_timer_.cancel();
    closeListeners();
  });
  control_thread_.join();
}

void Server::start() {
  auto current = settings();
  uint16_t port = static_cast<uint16_t>(current.net.port);
  if (tls_unavailable_) {
    view_.setStatusText("TLS is required but unavailable: not listening");
    active_ = false;
    finishStart({false, port, 0});
    return;
  }
  const std::string& bind_address = server_address_;
  control_listener_ = std::make_shared<ftp::ListenSocket>(context(), *this);
  if (int error = control_listener_->create(bind_address, port)) {
    socketErrorText(error, false);
    view_.setStatusText("Failed to create passive socket");
    view_.showMessage("Failed to start server.\nCheck that no other network applications are using TCP/IP port 21",
                      "Server start failure", MessageIcon::Warning);
    control_listener_.reset();
    active_ = false;
    finishStart({false, port, error});
    return;
  }
  if (int error = control_listener_->listen(asio::socket_base::max_listen_connections)) {
    view_.setStatusText("Listen on port " + std::to_string(port) + " failed");
    control_listener_->close();
    control_listener_.reset();
    active_ = false;
    finishStart({false, port, error});
    return;
  }
  listening_port_ = control_listener_->port();
  startIpv6Listener(listening_port_.load());
  view_.setStatusText("FTP Server ready, listening on port " + std::to_string(listening_port_.load()));
  finishStart({true, listening_port_.load(), 0});
}

void Server::startIpv6Listener(uint16_t port) {
  if (!settings().network.listenIpv6) return;
  // Every address has its IPv6 counterpart, the loopback address has ::1;
  // any other IPv4 address names one interface, and it alone is listened on.
  bool every = server_address_.empty() || server_address_ == "0.0.0.0";
  std::string address = every ? "::" : server_address_ == "127.0.0.1" ? "::1" : "";
  if (address.empty()) return;
  auto listener = std::make_shared<ftp::ListenSocket>(context(), *this);
  int error = listener->create(address, port);
  if (error == 0) error = listener->listen(asio::socket_base::max_listen_connections);
  if (error != 0) {
    // A host without IPv6 still serves IPv4 clients.
    listener->close();
    logEvent("Not listening on IPv6 [" + address + "]:" + std::to_string(port) + ": " +
             socketErrorText(error, true));
    return;
  }
  control_listener_v6_ = listener;
}

void Server::closeListeners() {
  if (control_listener_) control_listener_->close();
  if (control_listener_v6_) control_listener_v6_->close();
  control_listener_.reset();
  control_listener_v6_.reset();
}

void Server::finishStart(StartResult result) {
  std::lock_guard lock(start_mutex_);
  last_start_ = result;
  start_results_ = start_requests_;
  start_cv_.notify_all();
}

void Server::stop() {
  closeListeners();
  listening_port_ = 0;
  view_.setStatusText("Server inactive");
  for (const auto& record : registrySnapshot()) disconnect(record);
}

void Server::disconnect(std::weak_ptr<ConnectionRecord> record) {
  post([this, record = std::move(record)] {
    if (auto live = record.lock()) closeConnection(live, true);
  });
}

void Server::closeConnection(const std::shared_ptr<ConnectionRecord>& record, bool registered) {
  std::lock_guard lock(control_thread_.lock());
  if (record->control.control_connection) record->control.control_connection->destroy();
  if (registered) {
    remove(record);
  } else {
    // Never registered: dropping the last owner destroys the record.
    record->control.control_connection.reset();
  }
}

void Server::registerRecord(const std::shared_ptr<ConnectionRecord>& record) {
  {
    std::lock_guard lock(registry_mutex_);
    registry_.push_back(record);
  }
  refreshTitle();
  view_.userListChanged();
}

bool Server::perAddressLimitReached(const std::string& peer_address) {
  int limit = static_cast<int>(settings().general.connectionsPerAddress);
  std::lock_guard lock(registry_mutex_);
  int count = 0;
  for (const auto& record : registry_)
    if (record->identity.peer_address == peer_address) ++count;
  return count >= limit;
}

void Server::closeOldestFromAddress(const std::string& peer_address) {
  std::shared_ptr<ConnectionRecord> oldest;
  {
    std::lock_guard lock(registry_mutex_);
    for (const auto& record : registry_) {
      if (record->identity.peer_address == peer_address) {
        oldest = record;
        break;
      }
    }
  }
  if (oldest) remove(oldest);
}

void Server::remove(const std::shared_ptr<ConnectionRecord>& record) {
  std::unique_lock lock(registry_mutex_);
  auto item = std::find(registry_.begin(), registry_.end(), record);
  if (item == registry_.end()) return;  // already removed
  auto& control = record->control;
  if (control.data_socket) {
    // A transfer runs: it is aborted, and its end removes the connection.
    control.data_socket->removeOwnerWhenClosed();
    lock.unlock();
    transfer::PostDisposal(*this, control.data_socket);
    return;
  }
  uint32_t slot = record->shared.slot_number.load();
  registry_.erase(item);
  registry_shrunk_.notify_all();
  if (control.control_connection) {
    control.control_connection->destroy();
    control.control_connection.reset();
  }
  if (control.passive_listener) {
    control.passive_listener->close();
    control.passive_listener.reset();
  }
  for (const auto& other : registry_) {
    uint32_t number = other->shared.slot_number.load();
    if (number > slot) other->shared.slot_number.store(number - 1);
  }
  std::string name = record->displayName();
  lock.unlock();
  view_.userListChanged();
  logEvent("Connection to " + name + " closed.");
}

bool Server::accountExists(const std::string& name) const { return accounts_.exists(name); }

std::optional<AccountLogin> Server::checkAccount(const std::string& name, const std::string& password) const {
  if (!accounts_.checkPassword(name, password)) return std::nullopt;
  auto account = accounts_.find(name);
  if (!account) return std::nullopt;
  auto current = settings();
  AccountLogin login;
  login.permissions = account->permissions;
  login.home_directory = account->homeDir.empty() ? current.ftpRootDir : account->homeDir;
  login.uploads_directory = account->redirectUploads ? account->uploadsDir : current.uploadsDir;
  login.redirect_uploads = account->redirectUploads;
  login.custom_logon_message = account->customLogonMessage;
  login.logon_message_file = account->logonMessageFile;
  return login;
}

void Server::reloadAccounts() {
  auto current = settings();
  if (current.logonFile.empty()) {
    accounts_.replaceAll({});
    return;
  }
  accounts::LoadResult result = accounts_.load(current.logonFile, key_text_);
  if (result.error)
    logEvent("Cannot read the accounts file " + current.logonFile + ": " + std::strerror(result.error) +
             "; the accounts read before stay in force.");
  else if (result.corrupt)
    view_.showMessage(accounts::kCorruptAccountsText, accounts::kCorruptAccountsCaption, MessageIcon::Warning);
}

void Server::applySettings(const settings::Settings& fresh, const std::string& default_ip) {
  settings::Settings old = settings();
  updateSettings([&](settings::Settings& current) { current = fresh; });
  applyCacheSettings();
  if (TlsCertificateChanged(old.tls, fresh.tls)) setUpTls(fresh.tls);
  if (fresh.enableLog != old.enableLog || fresh.logPath != old.logPath) {
    log_thread_.close();
    if (fresh.enableLog && !fresh.logPath.empty())
      if (int error = log_thread_.open(fresh.logPath))
        logEvent("Cannot open the log file " + fresh.logPath + ": " + std::strerror(error));
  }
  std::string message = fresh.sendLogonMsg && !fresh.msgFilePath.empty() ? ftp::BuildLogonMessage(fresh.msgFilePath) : "";
  // With one local address there is nothing to choose; else the default, or
  // the address in use when none is set.
  std::string address = local_addresses_.size() == 1 ? local_addresses_.front() : default_ip;
  bool anonymous_off = old.anonymous.allow && !fresh.anonymous.allow;
  bool relisten = fresh.net.port != old.net.port || fresh.network.listenIpv6 != old.network.listenIpv6;
  // The control thread reads the logon message and the address; they change there.
  runOnControlThread([this, message, address, anonymous_off, relisten] {
    logon_message_ = message;
    armIdleTimer();
    if (anonymous_off) disconnectAnonymousUsers();
    bool new_address = !address.empty() && address != server_address_;
    if (new_address) server_address_ = address;
    if ((relisten || new_address) && control_listener_) restartListener();
  });
}

void Server::restartListener() {
  closeListeners();
  listening_port_ = 0;
  {
    std::lock_guard lock(start_mutex_);
    ++start_requests_;
  }
  start();
}

void Server::setUpTls(const settings::TlsSettings& tls) {
  TlsSetup setup = PrepareTls(tls, environment_.settings_directory);
  for (auto& line : setup.events) logEvent(std::move(line));
  tls_unavailable_ = setup.refuse_start;
  std::lock_guard lock(tls_mutex_);
  tls_context_ = std::move(setup.context);
}

std::shared_ptr<const tls::TlsContext> Server::tlsContext() const {
  std::lock_guard lock(tls_mutex_);
  return tls_context_;
}

void Server::reportAccountsLoad(const accounts::LoadResult& result) {
  if (result.error)
    view_.showMessage("Cannot read the accounts file " + accounts_.filePath().string() + ": " +
                          std::strerror(result.error),
                      "Talvek FTP", MessageIcon::Warning);
  if (result.corrupt)
    view_.showMessage(accounts::kCorruptAccountsText, accounts::kCorruptAccountsCaption, MessageIcon::Warning);
}

void Server::applyCacheSettings() {
  auto cache = settings().cache;
  directory_cache_.setOverflowPercent(cache.overflowPercent);
  file_cache_.setOverflowPercent(cache.overflowPercent);
  directory_cache_.setLimit(uint64_t{cache.dirCacheKB} * 1024);
  file_cache_.setLimit(uint64_t{cache.fileCacheKB} * 1024);
  using std::chrono::minutes;
  directory_refresh_.start(cache.autoRefreshDirs ? minutes(cache.dirRefreshMinutes) : minutes(0));
  file_refresh_.start(cache.autoRefreshFiles ? minutes(cache.fileRefreshMinutes) : minutes(0));
}

std::filesystem::path Server::filtersFile() const { return filters_directory_ / filter::kFilterFileName; }

bool Server::refusedByFilter(const settings::Settings& current, const std::string& peer_address) const {
  if (login_throttle_.banned(peer_address, LoginThrottle::Clock::now())) return true;
  return filter::IsRefused(filter_list_, current.general.filterEnabled != 0, current.general.blockListed != 0,
                           peer_address);
}

void Server::recheckFilter() {
  auto current = settings();
  for (const auto& record : registrySnapshot()) {
    if (refusedByFilter(current, record->identity.peer_address)) disconnect(record);
  }
}

void Server::reloadFilterList() {
  if (int error = filter::LoadFilterList(filtersFile(), filter_list_))
    logEvent("Cannot read " + filtersFile().string() + ": " + std::strerror(error) +
             "; the IP filter list read before stays in force.");
  recheckFilter();
}

void Server::disconnectAnonymousUsers() {
  for (const auto& record : registrySnapshot()) {
    std::string user = record->texts.lock()->user_name;
    bool anonymous = user.size() == 9 && std::equal(user.begin(), user.end(), "anonymous",
                                                    [](char a, char b) { return std::tolower(a) == b; });
    if (anonymous) disconnect(record);
  }
}

std::vector<std::shared_ptr<ConnectionRecord>> Server::registrySnapshot() const {
  std::lock_guard lock(registry_mutex_);
  return registry_;
}

std::string Server::title() const {
  std::lock_guard lock(settings_mutex_);
  return title_text_;
}

void Server::refreshTitle() {
  int count = counter_.count.load();
  std::string address = server_address_.empty() ? "0.0.0.0" : server_address_;
  std::string text = "Talvek FTP - " + host_name_ + " (" + address + ") : " + std::to_string(count) +
                     (count == 1 ? " connection" : " connections");
  {
    std::lock_guard lock(settings_mutex_);
    title_text_ = text;
  }
  view_.setTitle(text);
}

void Server::handToLog(std::string text) {
  if (!settings().enableLog) return;
  log_thread_.write(std::move(text));
}

void Server::logEvent(std::string text) {
  handToLog(text);
  text += "\r\n\r\n";
  view_.appendMonitorText(text);
}

std::string Server::socketErrorText(int code, bool quiet) {
  if (auto known = ftp::KnownSocketErrorText(code)) {
    if (!quiet) logEvent(*known);
    return *known;
  }
  return ftp::SocketErrorText(code);
}

settings::Settings Server::settings() const {
  std::lock_guard lock(settings_mutex_);
  return settings_;
}

void Server::updateSettings(const std::function<void(settings::Settings&)>& change) {
  std::lock_guard lock(settings_mutex_);
  change(settings_);
}

RecordDefaults Server::recordDefaults() const {
  std::lock_guard lock(settings_mutex_);
  RecordDefaults defaults;
  defaults.record_file_lists = settings_.general.recordFileLists != 0;
  defaults.monitor = settings_.general.monitorNew != 0;
  defaults.data_port = static_cast<uint16_t>(settings_.net.port);
  defaults.current_directory = settings_.ftpRootDir;
  defaults.uploads_directory = settings_.uploadsDir;
  return defaults;
}

}  // namespace talvek::server
