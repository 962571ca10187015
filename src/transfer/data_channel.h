// The byte pipe of one transfer: the data connection's descriptor, owned by
// a transfer worker, with sends and receives that wait for readiness a
// poll interval at a time and give up as soon as the transfer is aborted.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tls/tls_stream.h"

namespace talvek::transfer {

enum class IoStatus { Ok, Aborted, Failed };

struct IoResult {
  IoStatus status = IoStatus::Ok;
  int error = 0;     // errno of a failure
  int64_t bytes = 0;  // bytes moved
};

class DataChannel {
 public:
  // How long one wait for readiness lasts before the abort flag is read again.
  static constexpr int kPollMilliseconds = 100;

  DataChannel(int fd, const std::atomic<bool>& aborted) : fd_(fd), aborted_(aborted) {}
  ~DataChannel() { close(); }
  DataChannel(const DataChannel&) = delete;
  DataChannel& operator=(const DataChannel&) = delete;

  // Sends all `size` bytes, or stops at an abort or an error.
  IoResult send(const char* data, size_t size);
  // Sends `count` bytes of `file` from `offset` with sendfile, in bounded steps.
  IoResult sendFile(int file, int64_t offset, int64_t count);
  // Receives what has arrived, waiting for it; bytes 0 means the peer closed.
  IoResult receive(char* buffer, size_t size);
  // Closes the connection (under TLS after close_notify); the client then
  // sees the end of the data.
  void close();
  // PROT P: the TLS server handshake within `limit`; afterwards sends and
  // receives go through TLS. `failure` says why it did not succeed.
  enum class TlsStart { Ok, Aborted, Failed, NotResumed };
  TlsStart startTls(const tls::DataProtection& protection, std::chrono::milliseconds limit, std::string& failure);
  bool aborted() const { return aborted_.load(); }
  // Called with the byte count of every step that moved data, so that a
  // long transfer shows progress and keeps its connection from going idle.
  void onProgress(std::function<void(int64_t)> progress) { progress_ = std::move(progress); }

 private:
  // Waits until `events` are ready: Ok, Aborted, or Failed with errno
  // (ETIMEDOUT once `deadline` has passed).
  IoResult wait(short events, std::chrono::steady_clock::time_point deadline =
                                  std::chrono::steady_clock::time_point::max());
  // The TLS ways of send, sendFile, receive and close.
  IoResult tlsSend(const char* data, size_t size);
  IoResult tlsSendFile(int file, int64_t offset, int64_t count);
  IoResult tlsReceive(char* buffer, size_t size);
  void tlsClose();
  IoResult tlsFailure(const tls::TlsStream::Step& step, int64_t bytes) const;

  void moved(int64_t bytes) {
    if (progress_) progress_(bytes);
  }

  int fd_;
  const std::atomic<bool>& aborted_;
  std::function<void(int64_t)> progress_;
  std::unique_ptr<tls::TlsStream> tls_;
};

}  // namespace talvek::transfer
