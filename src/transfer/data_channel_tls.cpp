// The TLS ways of the data channel (PROT P): the same abort and poll
// behaviour as the clear ones, with OpenSSL saying what to wait for.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "tls/tls_stream.h"
#include "transfer/data_channel.h"

namespace talvek::transfer {

namespace {
using Status = tls::TlsStream::Status;
// Buffered downloads read the file in blocks this large, so that TLS fills
// whole records and system calls stay few.
constexpr size_t kFileBlock = 256 * 1024;
// How long close waits to hand close_notify to a peer that does not read.
constexpr auto kCloseNotifyWait = std::chrono::seconds(2);
}  // namespace

IoResult DataChannel::tlsFailure(const tls::TlsStream::Step& step, int64_t bytes) const {
  // A client that has sent ABOR may close before the abort is seen here.
  return {aborted_.load() ? IoStatus::Aborted : IoStatus::Failed, step.error, bytes};
}

DataChannel::TlsStart DataChannel::startTls(const tls::DataProtection& protection, std::chrono::milliseconds limit,
                                            std::string& failure) {
  tls_ = std::make_unique<tls::TlsStream>(protection, fd_);
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto step = tls_->handshake();
    if (step.status == Status::Done) break;
    if (step.status == Status::Failed) {
      failure = tls_->failure();
      return TlsStart::Failed;
    }
    auto waited = wait(step.status == Status::WantRead ? POLLIN : POLLOUT, deadline);
    if (waited.status == IoStatus::Aborted) return TlsStart::Aborted;
    if (waited.status == IoStatus::Failed) {
      failure = waited.error == ETIMEDOUT ? "no TLS handshake within the time-out" : "the connection failed";
      return TlsStart::Failed;
    }
  }
  if (protection.require_reuse && !tls_->resumed()) {
    failure = "the handshake did not resume the control connection's session";
    return TlsStart::NotResumed;
  }
  return TlsStart::Ok;
}

IoResult DataChannel::tlsSend(const char* data, size_t size) {
  IoResult result;
  while (static_cast<size_t>(result.bytes) < size) {
    if (aborted_.load()) return {IoStatus::Aborted, 0, result.bytes};
    auto step = tls_->write(data + result.bytes, size - static_cast<size_t>(result.bytes));
    if (step.status == Status::Done) {
      result.bytes += step.bytes;
      moved(step.bytes);
      continue;
    }
    if (step.status != Status::WantRead && step.status != Status::WantWrite) return tlsFailure(step, result.bytes);
    if (auto waited = wait(step.status == Status::WantRead ? POLLIN : POLLOUT); waited.status != IoStatus::Ok)
      return {waited.status, waited.error, result.bytes};
  }
  return result;
}

IoResult DataChannel::tlsSendFile(int file, int64_t offset, int64_t count) {
  IoResult result;
  if (tls_->kernelSend()) {
    // Kernel TLS: the file's pages go out without passing through here.
    while (result.bytes < count) {
      if (aborted_.load()) return {IoStatus::Aborted, 0, result.bytes};
      size_t step_size = static_cast<size_t>(std::min<int64_t>(count - result.bytes, 16 << 20));
      auto step = tls_->sendFile(file, offset + result.bytes, step_size);
      if (step.status == Status::Done && step.bytes == 0) break;  // the file became shorter
      if (step.status == Status::Done) {
        result.bytes += step.bytes;
        moved(step.bytes);
        continue;
      }
      if (step.status != Status::WantWrite) return tlsFailure(step, result.bytes);
      if (auto waited = wait(POLLOUT); waited.status != IoStatus::Ok) return {waited.status, waited.error, result.bytes};
    }
    return result;
  }
  std::vector<char> block(static_cast<size_t>(std::min<int64_t>(count, kFileBlock)));
  while (result.bytes < count) {
    size_t want = static_cast<size_t>(std::min<int64_t>(count - result.bytes, static_cast<int64_t>(block.size())));
    ssize_t got = ::pread(file, block.data(), want, static_cast<off_t>(offset + result.bytes));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {IoStatus::Failed, errno, result.bytes};
    if (got == 0) break;  // the file became shorter
    IoResult sent = tlsSend(block.data(), static_cast<size_t>(got));
    result.bytes += sent.bytes;
    if (sent.status != IoStatus::Ok) return {sent.status, sent.error, result.bytes};
  }
  return result;
}

IoResult DataChannel::tlsReceive(char* buffer, size_t size) {
  for (;;) {
    if (aborted_.load()) return {IoStatus::Aborted, 0, 0};
    auto step = tls_->read(buffer, size);
    if (step.status == Status::Done) {
      moved(step.bytes);
      return {IoStatus::Ok, 0, step.bytes};
    }
    if (step.status == Status::Closed) return {IoStatus::Ok, 0, 0};  // close_notify or the end
    if (step.status == Status::Failed) return tlsFailure(step, 0);
    if (auto waited = wait(step.status == Status::WantRead ? POLLIN : POLLOUT); waited.status != IoStatus::Ok)
      return waited;
  }
}

void DataChannel::tlsClose() {
  // close_notify tells the client the data ended here and was not cut off.
  auto deadline = std::chrono::steady_clock::now() + kCloseNotifyWait;
  while (!aborted_.load()) {
    auto step = tls_->shutdown();
    if (step.status != Status::WantRead && step.status != Status::WantWrite) break;
    if (wait(step.status == Status::WantRead ? POLLIN : POLLOUT, deadline).status != IoStatus::Ok) break;
  }
  tls_.reset();
}

}  // namespace talvek::transfer
