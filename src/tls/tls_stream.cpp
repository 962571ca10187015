#include "tls/tls_stream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>

#include "tls/openssl_error.h"
#include "tls/tls_context.h"

namespace talvek::tls {

TlsStream::TlsStream(const DataProtection& protection, int fd) {
  ssl_ = SSL_new(protection.context->native());
  if (!ssl_) return;
  SSL_set_fd(ssl_, fd);
  SSL_set_accept_state(ssl_);
  // No session tickets here: a client that only uploads never reads them,
  // and unread bytes make its close a reset that may cut off its last data.
  // Later data connections resume the control connection's tickets.
  SSL_set_num_tickets(ssl_, 0);
  const auto* context = reinterpret_cast<const unsigned char*>(protection.session_context.data());
  SSL_set_session_id_context(ssl_, context, static_cast<unsigned int>(protection.session_context.size()));
}

TlsStream::~TlsStream() { SSL_free(ssl_); }

TlsStream::Step TlsStream::result(int returned, const char* what) {
  if (returned > 0) return {Status::Done, returned};
  switch (SSL_get_error(ssl_, returned)) {
    case SSL_ERROR_WANT_READ: return {Status::WantRead, 0};
    case SSL_ERROR_WANT_WRITE: return {Status::WantWrite, 0};
    case SSL_ERROR_ZERO_RETURN: return {Status::Closed, 0};
    case SSL_ERROR_SYSCALL: {
      int error = errno != 0 ? errno : ECONNRESET;
      failure_ = OpenSslError(what);
      return {Status::Failed, 0, error};
    }
    default:
      failure_ = OpenSslError(what);
      return {Status::Failed, 0, EPROTO};
  }
}

TlsStream::Step TlsStream::handshake() {
  if (!ssl_) return {Status::Failed, 0, ENOMEM};
  ERR_clear_error();
  int done = SSL_do_handshake(ssl_);
  if (done == 1) return {Status::Done, 0};
  Step step = result(done, "TLS handshake failed");
  if (step.status == Status::Closed) step.status = Status::Failed;
  return step;
}

bool TlsStream::resumed() const { return ssl_ && SSL_session_reused(ssl_) == 1; }

TlsStream::Step TlsStream::read(char* buffer, size_t size) {
  ERR_clear_error();
  size_t got = 0;
  int done = SSL_read_ex(ssl_, buffer, size, &got);
  return done == 1 ? Step{Status::Done, static_cast<int64_t>(got)} : result(done, "TLS read failed");
}

TlsStream::Step TlsStream::write(const char* data, size_t size) {
  ERR_clear_error();
  size_t sent = 0;
  int done = SSL_write_ex(ssl_, data, size, &sent);
  return done == 1 ? Step{Status::Done, static_cast<int64_t>(sent)} : result(done, "TLS write failed");
}

bool TlsStream::kernelSend() const { return ssl_ && BIO_get_ktls_send(SSL_get_wbio(ssl_)) != 0; }

TlsStream::Step TlsStream::sendFile(int file, int64_t offset, size_t count) {
  ERR_clear_error();
  ossl_ssize_t sent = SSL_sendfile(ssl_, file, static_cast<off_t>(offset), count, 0);
  if (sent >= 0) return {Status::Done, static_cast<int64_t>(sent)};
  // The socket is full: the kernel says so through errno.
  if (SSL_get_error(ssl_, -1) == SSL_ERROR_WANT_WRITE || errno == EAGAIN) return {Status::WantWrite, 0};
  int error = errno;
  failure_ = OpenSslError("TLS sendfile failed");
  return {Status::Failed, 0, error};
}

TlsStream::Step TlsStream::shutdown() {
  if (!ssl_) return {Status::Done, 0};
  ERR_clear_error();
  int done = SSL_shutdown(ssl_);
  if (done >= 0) return {Status::Done, 0};
  return result(done, "TLS shutdown failed");
}

}  // namespace talvek::tls
