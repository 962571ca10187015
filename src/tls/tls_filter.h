// The TLS server end of a control connection, worked through memory: its
// owner feeds it the bytes that arrived and sends the bytes it hands back,
// so the socket stays with the event loop, its queue limits and time-outs.
// Owned by one control connection and used on the control thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

using SSL = struct ssl_st;

namespace talvek::tls {

class TlsContext;

class TlsFilter {
 public:
  enum class State { Handshaking, Open, Closed, Failed };

  explicit TlsFilter(std::shared_ptr<const TlsContext> context);
  ~TlsFilter();
  TlsFilter(const TlsFilter&) = delete;
  TlsFilter& operator=(const TlsFilter&) = delete;

  // Takes bytes from the peer: appends what they decrypt to to `plain` and
  // what must go back to the peer (handshake, alerts, held replies) to `out`.
  State feed(std::string_view cipher, std::string& plain, std::string& out);
  // The bytes that carry `plain` to the peer; held back until the
  // handshake is done (feed then hands them out).
  std::string seal(std::string_view plain);
  // The close_notify alert that ends the session, for the peer ("" unless open).
  std::string closeNotify();
  // Data connections resume sessions of this context only (random per
  // control connection), so no other client's session passes for ours.
  const std::string& sessionContext() const { return session_context_; }
  // Why the state is Failed.
  const std::string& failure() const { return failure_; }

 private:
  void drain(std::string& out);

  std::shared_ptr<const TlsContext> context_;
  SSL* ssl_ = nullptr;
  State state_ = State::Handshaking;
  std::string session_context_;
  std::string held_;  // plain text sealed before the handshake ended
  std::string failure_;
};

}  // namespace talvek::tls
