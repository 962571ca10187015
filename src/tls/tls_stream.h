// The TLS server end of one data connection over its non-blocking
// descriptor. Calls never wait: each says whether it moved bytes or what
// the descriptor must become ready for, and the caller (a transfer worker
// that owns the descriptor and this object) waits as it likes. The
// descriptor stays the caller's to close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

using SSL = struct ssl_st;

namespace talvek::tls {

class TlsContext;

// What a data connection's TLS needs from its control connection.
struct DataProtection {
  std::shared_ptr<const TlsContext> context;
  std::string session_context;  // the control connection's
  bool require_reuse = false;    // refuse a handshake that does not resume a session
};

class TlsStream {
 public:
  enum class Status { Done, WantRead, WantWrite, Closed, Failed };
  struct Step {
    Status status = Status::Done;
    int64_t bytes = 0;
    int error = 0;  // errno of a Failed step (EPROTO for a TLS protocol error)
  };

  TlsStream(const DataProtection& protection, int fd);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  Step handshake();
  // The handshake resumed a session of the control connection.
  bool resumed() const;
  Step read(char* buffer, size_t size);
  Step write(const char* data, size_t size);
  // The kernel encrypts what is sent (kernel TLS): sendFile may be used.
  bool kernelSend() const;
  Step sendFile(int file, int64_t offset, size_t count);
  // Sends close_notify (the peer's is not waited for).
  Step shutdown();
  // Why the last step Failed.
  const std::string& failure() const { return failure_; }

 private:
  Step result(int returned, const char* what);

  SSL* ssl_ = nullptr;
  std::string failure_;
};

}  // namespace talvek::tls
