#include "tls/tls_filter.h"

#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include <utility>

#include "tls/openssl_error.h"
#include "tls/tls_context.h"

namespace talvek::tls {

namespace {
constexpr size_t kSessionContextBytes = 16;
constexpr size_t kReadStep = 4096;
}  // namespace

TlsFilter::TlsFilter(std::shared_ptr<const TlsContext> context) : context_(std::move(context)) {
  unsigned char random[kSessionContextBytes];
  RAND_bytes(random, sizeof random);
  session_context_.assign(reinterpret_cast<const char*>(random), sizeof random);
  ssl_ = SSL_new(context_->native());
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (!ssl_ || !in || !out) {
    BIO_free(in);
    BIO_free(out);
    state_ = State::Failed;
    failure_ = OpenSslError("cannot set up TLS");
    return;
  }
  SSL_set_bio(ssl_, in, out);
  SSL_set_accept_state(ssl_);
  SSL_set_session_id_context(ssl_, random, sizeof random);
}

TlsFilter::~TlsFilter() { SSL_free(ssl_); }

void TlsFilter::drain(std::string& out) {
  BIO* bio = SSL_get_wbio(ssl_);
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  if (size > 0) out.append(data, static_cast<size_t>(size));
  (void)BIO_reset(bio);
}

TlsFilter::State TlsFilter::feed(std::string_view cipher, std::string& plain, std::string& out) {
  if (state_ == State::Failed || state_ == State::Closed) return state_;
  ERR_clear_error();
  if (!cipher.empty()) BIO_write(SSL_get_rbio(ssl_), cipher.data(), static_cast<int>(cipher.size()));
  if (state_ == State::Handshaking) {
    int done = SSL_do_handshake(ssl_);
    if (done != 1) {
      int error = SSL_get_error(ssl_, done);
      if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
        state_ = State::Failed;
        failure_ = OpenSslError("TLS handshake failed");
      }
      drain(out);  // the handshake's next flight, or the alert
      return state_;
    }
    state_ = State::Open;
    drain(out);
    if (!held_.empty()) out += seal(std::exchange(held_, {}));
  }
  char buffer[kReadStep];
  for (;;) {
    int got = SSL_read(ssl_, buffer, sizeof buffer);
    if (got > 0) {
      plain.append(buffer, static_cast<size_t>(got));
      continue;
    }
    int error = SSL_get_error(ssl_, got);
    if (error == SSL_ERROR_ZERO_RETURN) {
      state_ = State::Closed;
    } else if (error != SSL_ERROR_WANT_READ) {
      state_ = State::Failed;
      failure_ = OpenSslError("TLS failed");
    }
    break;
  }
  drain(out);
  return state_;
}

std::string TlsFilter::seal(std::string_view plain) {
  std::string out;
  if (state_ == State::Handshaking) {
    held_.append(plain);
    return out;
  }
  if (state_ != State::Open || plain.empty()) return out;
  // Memory never pushes back, so one write takes all of it.
  SSL_write(ssl_, plain.data(), static_cast<int>(plain.size()));
  drain(out);
  return out;
}

std::string TlsFilter::closeNotify() {
  std::string out;
  if (state_ != State::Open) return out;
  SSL_shutdown(ssl_);
  state_ = State::Closed;
  drain(out);
  return out;
}

}  // namespace talvek::tls
