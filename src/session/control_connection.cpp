#include "session/control_connection.h"

#include <asio/dispatch.hpp>

#include <utility>

#include "session/command_context.h"
#include "protocol/command_table.h"
#include "protocol/reply_table.h"
#include "log/log_thread.h"
#include "session/connection_record.h"
#include "session/session_host.h"
#include "tls/tls_filter.h"

namespace talvek::ftp {

ControlConnection::ControlConnection(asio::io_context& io, session::SessionHost& server)
    : AsyncSocket(io), server_(server), reply_timer_(io) {}

ControlConnection::~ControlConnection() = default;

void ControlConnection::start() {
  setSendStallLimit(server_.sendStallLimit());
  sendReply(std::string(server_.greeting()));
}

void ControlConnection::sendReply(std::string& text) {
  text += "\r\n";
  // Sealed on the control thread, in the order the replies go out: transfer
  // threads send theirs too.
  asio::dispatch(context(), [self = std::static_pointer_cast<ControlConnection>(shared_from_this()), text] {
    self->send(self->tls_ ? self->tls_->seal(text) : text);
  });
}

void ControlConnection::destroy() {
  // Under TLS the last bytes are close_notify: the client sees a clean end.
  asio::dispatch(context(), [self = std::static_pointer_cast<ControlConnection>(shared_from_this())] {
    if (self->tls_) self->send(self->tls_->closeNotify());
    self->closeAfterSending();
  });
}

void ControlConnection::OnReceive(int) {
  // Lines left over when receiving was last held go first.
  processLines();
  if (receiveHeld()) return;
  char buffer[kReceiveBuffer];
  int received = receive(buffer, sizeof buffer);
  auto record = record_.lock();
  if (!record) return;
  if (!record->control.admitted) {
    // Admission has not finished: nothing is dispatched yet.
    if (received > 0) sendReply(Reply(451));
    return;
  }
  if (received <= 0) return;
  if (tls_)
    receiveTls(*record, std::string_view(buffer, static_cast<size_t>(received)));
  else
    reader_.append(std::string_view(buffer, static_cast<size_t>(received)));
  processLines();
}

void ControlConnection::startTls() {
  // RFC 4217: what the client sent after AUTH in clear text is not acted on.
  reader_ = CommandLineReader();
  tls_ = std::make_unique<tls::TlsFilter>(std::move(tls_pending_));
}

void ControlConnection::receiveTls(server::ConnectionRecord& record, std::string_view cipher) {
  std::string plain, out;
  auto state = tls_->feed(cipher, plain, out);
  if (!out.empty()) send(std::move(out));
  if (state == tls::TlsFilter::State::Open) {
    reader_.append(plain);
    if (!record.shared.tls_control.exchange(true)) server_.userListChanged();
    return;
  }
  if (state == tls::TlsFilter::State::Handshaking) return;
  if (state == tls::TlsFilter::State::Failed)
    server_.logEvent("TLS with " + record.displayName() + " failed: " + log::EscapeControlBytes(tls_->failure()));
  auto shared = record_.lock();
  if (!shared || removed_ || !record.control.admitted) return;
  removed_ = true;
  server_.remove(shared);
}

void ControlConnection::processLines() {
  while (isOpen() && !removed_ && !receiveHeld()) {
    auto line = reader_.next();
    if (!line) return;
    if (line->too_long) {
      sendReply(Reply(500));
      continue;
    }
    processCommand(line->text);
  }
}

void ControlConnection::processCommand(const std::string& raw_line) {
  auto record = record_.lock();
  if (!record || removed_) return;
  auto parsed = ParseCommandLine(raw_line);
  if (!parsed) return;
  record->touch();

  std::string received_line;
  if (record->shared.monitor.load()) {
    std::string display_name;
    {
      auto texts = record->texts.lock();
      texts->last_command_line = parsed->line;
      display_name = texts->display_name;
    }
    received_line =
        log::NowText() + " : Received " + log::EscapeControlBytes(parsed->line) + " from " + display_name;
    server_.handToLog(received_line);
  }

  std::string reply = Reply(500);
  if (auto command = CommandTable::instance().find(parsed->keyword)) {
    CommandContext context{server_, *record, *this};
    reply = server_.runCommand(*command, context, parsed->argument);
  }

  if (parsed->keyword == "QUIT" || reply.empty()) {
    if (!reply.empty()) sendReply(reply);  // QUIT's 221 goes out before the close
    removed_ = true;
    server_.remove(record);
    return;
  }
  if (reply_delay_.count() > 0) {
    // A refused password: the reply waits, and so does everything after it.
    holdReceive();
    reply_timer_.expires_after(std::exchange(reply_delay_, {}));
    auto self = std::static_pointer_cast<ControlConnection>(shared_from_this());
    reply_timer_.async_wait([self, record, reply, received_line](const std::error_code& error) mutable {
      if (error || !self->isOpen()) return;
      self->answer(*record, reply, received_line);
      self->resumeReceive();
    });
    return;
  }
  answer(*record, reply, received_line);
  if (tls_pending_) startTls();
}

void ControlConnection::answer(server::ConnectionRecord& record, std::string& reply,
                               const std::string& received_line) {
  sendReply(reply);
  if (record.shared.monitor.load()) {
    record.touch();
    std::string responded =
        "\r\n" + log::NowText() + " : Responded " + log::EscapeControlBytes(reply, true) + "\r\n";
    server_.handToLog(responded);
    server_.appendMonitor(received_line + responded);
  }
}

void ControlConnection::loginFailed() {
  std::string address;
  uint16_t port = 0;
  if (peerName(address, port)) reply_delay_ = server_.noteFailedLogin(address);
}

void ControlConnection::OnSendStalled() {
  // The client does not read its replies: it goes, and its queue with it.
  closeNow();
  auto record = record_.lock();
  if (!record || removed_ || !record->control.admitted) return;
  removed_ = true;
  server_.remove(record);
}

void ControlConnection::OnOutOfBandData(int) { server_.logEvent("Received out of band data"); }

void ControlConnection::OnClose(int) {
  // The peer has gone: remove the connection at once rather than leave it
  // registered until a sweep finds it.
  peer_closed_ = true;
  auto record = record_.lock();
  if (!record || removed_ || !record->control.admitted || record->control.closing) return;
  removed_ = true;
  server_.remove(record);
}

}  // namespace talvek::ftp
