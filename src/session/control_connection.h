// The server's end of one client's command channel: cuts received bytes
// into command lines, dispatches each to its handler, sends the reply and
// shows the exchange on the monitor and in the log. Lives on the control
// thread; owned by its connection record (shared_ptr), which it refers to
// weakly.
#pragma once

#include <memory>
#include <string>

#include "protocol/command_line_reader.h"
#include "platform/async_socket.h"

namespace talvek::server {
struct ConnectionRecord;
}  // namespace talvek::server

namespace talvek::session {
class SessionHost;
}  // namespace talvek::session
namespace talvek::tls {
class TlsContext;
class TlsFilter;
}  // namespace talvek::tls

namespace talvek::ftp {

class ControlConnection : public platform::AsyncSocket {
 public:
  static constexpr size_t kReceiveBuffer = 2048;

  ControlConnection(asio::io_context& io, session::SessionHost& server);
  ~ControlConnection() override;
  // Binds the connection to its record, once accepted.
  void attach(std::weak_ptr<server::ConnectionRecord> record) { record_ = std::move(record); }

  // Sends the greeting; called by admission for an admitted connection.
  void start();
  // Appends CR LF to `text` (in place) and queues it; any thread.
  void sendReply(std::string& text);
  void sendReply(std::string&& text) { sendReply(text); }
  // Dispatches one command line (exposed for tests of the dispatcher).
  void processCommand(const std::string& line);
  // Closes the socket; the connection's removal calls it.
  void destroy();
  // A PASS was refused: tells the login throttle, whose delay (if any)
  // holds back that reply and every later command.
  void loginFailed();

  // AUTH TLS: the handshake begins once the reply now being sent is out;
  // bytes that came after the command in clear text are dropped.
  void startTlsAfterReply(std::shared_ptr<const tls::TlsContext> context) { tls_pending_ = std::move(context); }
  // The control connection's TLS (null before AUTH TLS); control thread.
  const tls::TlsFilter* tls() const { return tls_.get(); }

  bool peerClosed() const { return peer_closed_; }
  std::string& renameSource() { return rename_source_; }
  session::SessionHost& server() { return server_; }

 protected:
  void OnReceive(int error_code) override;
  void OnOutOfBandData(int error_code) override;
  void OnClose(int error_code) override;
  void OnSendStalled() override;

 private:
  void processLines();
  // Sends the reply and writes the exchange to the monitor and the log.
  void answer(server::ConnectionRecord& record, std::string& reply, const std::string& received_line);
  void startTls();
  // Decrypts what arrived under TLS into the line reader; ends the
  // connection when TLS fails or the client closes it.
  void receiveTls(server::ConnectionRecord& record, std::string_view cipher);

  session::SessionHost& server_;
  std::weak_ptr<server::ConnectionRecord> record_;
  CommandLineReader reader_;
  std::string rename_source_;
  asio::steady_timer reply_timer_;
  std::chrono::milliseconds reply_delay_{0};
  std::shared_ptr<const tls::TlsContext> tls_pending_;
  std::unique_ptr<tls::TlsFilter> tls_;
  bool peer_closed_ = false;
  bool removed_ = false;
};

}  // namespace talvek::ftp
