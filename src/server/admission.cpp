// Admission of a newly accepted control connection: IP filter, per-address
// limit with its overflow policy, total limit; then registration and the
// greeting, or a 421 reply and the record's disposal.
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "session/control_connection.h"
#include "log/log_thread.h"
#include "server/server.h"

namespace talvek::server {

namespace {

// A reverse lookup may not hold a new client up for longer than this.
constexpr auto kLookupLimit = std::chrono::seconds(2);
// How long a client may leave a full reply queue unread when idle time-outs are off.
constexpr auto kStallLimitWithoutTimeout = std::chrono::minutes(10);

// Runs the system resolver off the control thread; whichever comes first,
// the name or the time limit, continues admission (once).
void SystemReverseLookup(asio::io_context& io, const std::string& address,
                         std::function<void(std::string)> done) {
  std::error_code error;
  auto ip = asio::ip::make_address(address, error);
  if (error) {
    done({});
    return;
  }
  struct Lookup {
    explicit Lookup(asio::io_context& io) : resolver(io), timer(io) {}
    asio::ip::tcp::resolver resolver;
    asio::steady_timer timer;
    std::function<void(std::string)> done;
    bool finished = false;
    void finish(std::string name) {
      if (finished) return;
      finished = true;
      timer.cancel();
      resolver.cancel();
      done(std::move(name));
    }
  };
  auto lookup = std::make_shared<Lookup>(io);
  lookup->done = std::move(done);
  lookup->timer.expires_after(kLookupLimit);
  lookup->timer.async_wait([lookup](const std::error_code& e) {
    if (!e) lookup->finish({});
  });
  lookup->resolver.async_resolve(
      asio::ip::tcp::endpoint(ip, 0),
      [lookup, address](const std::error_code& e, asio::ip::tcp::resolver::results_type results) {
        std::string name;
        if (!e && !results.empty()) name = results.begin()->host_name();
        // A name that only repeats the address is no name.
        if (name == address) name.clear();
        lookup->finish(std::move(name));
      });
}

}  // namespace

void Server::admit(const std::shared_ptr<ConnectionRecord>& record) {
  // The peer's address was fixed when it was accepted; none when unknown.
  const std::string& address = record->identity.peer_address;
  if (address.empty()) {
    continueAdmission(record, {});
    return;
  }
  auto now = ReverseNameCache::Clock::now();
  if (auto name = reverse_names_.find(address, now)) {
    continueAdmission(record, *name);
    return;
  }
  auto lookup = environment_.reverse_lookup ? environment_.reverse_lookup : SystemReverseLookup;
  // The record stays owned by this continuation until admission ends.
  lookup(context(), address, [this, record, address](std::string name) {
    reverse_names_.store(address, name, ReverseNameCache::Clock::now());
    continueAdmission(record, name);
  });
}

void Server::continueAdmission(const std::shared_ptr<ConnectionRecord>& record, const std::string& host_name) {
  auto& control = record->control;
  auto connection = control.control_connection;
  if (!connection || connection->peerClosed() || !connection->isOpen() || !control_listener_) {
    // The client left, or the server stopped, while it was being looked up.
    if (connection) connection->destroy();
    control.control_connection.reset();
    return;
  }
  const std::string& peer_address = record->identity.peer_address;
  // The name comes from whoever runs the client's reverse zone: log-safe only escaped.
  control.host_name = log::EscapeControlBytes(host_name);
  std::string display_name = host_name.empty() ? peer_address : control.host_name;
  record->texts.lock()->display_name = display_name;
  auto current = settings();
  auto refuse = [&](const std::string& reply, bool closing) {
    connection->sendReply(std::string(reply));
    control.closing = closing;
    post([this, record] { closeConnection(record, false); });
  };

  if (refusedByFilter(current, peer_address)) {
    refuse("421 Host " + display_name + " not permitted access to this server", true);
    std::string line = "Attempt to connect by banned host " + peer_address;
    if (display_name != peer_address) line += " (" + display_name + ")";
    logEvent(line + " rejected");
    return;
  }
  if (current.general.limitPerAddress && perAddressLimitReached(peer_address)) {
    if (current.general.refuseNew) {
      refuse("421 Maximum allowable connections per user exceeded", true);
      return;
    }
    closeOldestFromAddress(peer_address);
  }
  // Only admitted connections count: others may still be in their lookup.
  size_t admitted_count = 0;
  {
    std::lock_guard lock(registry_mutex_);
    admitted_count = registry_.size();
  }
  if (admitted_count >= current.general.maxConnections) {
    refuse("421 Maximum allowable connections exceeded", false);
    return;
  }
  if (!control.closing) {
    registerRecord(record);
    connection->start();
    logEvent(" New connection: " + peer_address);
  }
  control.admitted = true;
}

std::chrono::milliseconds Server::noteFailedLogin(const std::string& address) {
  auto rules = settings().loginThrottle;
  if (login_throttle_.failed(address, rules, LoginThrottle::Clock::now())) {
    logEvent("Host " + address + " banned for " + std::to_string(rules.banMinutes) + " minutes after " +
             std::to_string(rules.banFailures) + " failed logins");
    recheckFilter();
  }
  return std::chrono::seconds(rules.failDelaySeconds);
}

std::chrono::milliseconds Server::sendStallLimit() const {
  if (int limit = send_stall_limit_ms.load()) return std::chrono::milliseconds(limit);
  auto general = settings().general;
  if (!general.timeoutIdle) return kStallLimitWithoutTimeout;
  return std::chrono::minutes(std::max<uint32_t>(general.timeoutMinutes, 1));
}

}  // namespace talvek::server
