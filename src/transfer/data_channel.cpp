#include "transfer/data_channel.h"

#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace talvek::transfer {

namespace {
// Largest step of one sendfile call, so an abort is seen between steps.
constexpr int64_t kSendFileStep = 16 << 20;

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
}  // namespace

IoResult DataChannel::wait(short events, std::chrono::steady_clock::time_point deadline) {
  while (!aborted_.load()) {
    if (std::chrono::steady_clock::now() >= deadline) return {IoStatus::Failed, ETIMEDOUT, 0};
    pollfd item{fd_, events, 0};
    int ready = ::poll(&item, 1, kPollMilliseconds);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {IoStatus::Failed, errno, 0};
    }
    if (ready > 0) return {};
  }
  return {IoStatus::Aborted, 0, 0};
}

IoResult DataChannel::send(const char* data, size_t size) {
  if (tls_) return tlsSend(data, size);
  IoResult result;
  while (static_cast<size_t>(result.bytes) < size) {
    if (aborted_.load()) return {IoStatus::Aborted, 0, result.bytes};
    ssize_t sent = ::send(fd_, data + result.bytes, size - static_cast<size_t>(result.bytes), MSG_NOSIGNAL);
    if (sent > 0) {
      result.bytes += sent;
      moved(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && WouldBlock(errno)) {
      if (auto waited = wait(POLLOUT); waited.status != IoStatus::Ok) return {waited.status, waited.error, result.bytes};
      continue;
    }
    return {IoStatus::Failed, sent < 0 ? errno : EPIPE, result.bytes};
  }
  return result;
}

IoResult DataChannel::sendFile(int file, int64_t offset, int64_t count) {
  if (tls_) return tlsSendFile(file, offset, count);
  IoResult result;
  off_t position = offset;
  while (result.bytes < count) {
    if (aborted_.load()) return {IoStatus::Aborted, 0, result.bytes};
    size_t step = static_cast<size_t>(std::min(count - result.bytes, kSendFileStep));
    ssize_t sent = ::sendfile(fd_, file, &position, step);
    if (sent > 0) {
      result.bytes += sent;
      moved(sent);
      continue;
    }
    if (sent == 0) break;  // the file became shorter
    if (errno == EINTR) continue;
    if (WouldBlock(errno)) {
      if (auto waited = wait(POLLOUT); waited.status != IoStatus::Ok) return {waited.status, waited.error, result.bytes};
      continue;
    }
    return {IoStatus::Failed, errno, result.bytes};
  }
  return result;
}

IoResult DataChannel::receive(char* buffer, size_t size) {
  if (tls_) return tlsReceive(buffer, size);
  for (;;) {
    if (aborted_.load()) return {IoStatus::Aborted, 0, 0};
    ssize_t got = ::recv(fd_, buffer, size, 0);
    if (got > 0) moved(got);
    if (got >= 0) return {IoStatus::Ok, 0, got};
    if (errno == EINTR) continue;
    if (!WouldBlock(errno)) return {IoStatus::Failed, errno, 0};
    if (auto waited = wait(POLLIN); waited.status != IoStatus::Ok) return waited;
  }
}

void DataChannel::close() {
  if (fd_ < 0) return;
  if (tls_) tlsClose();
  ::close(fd_);
  fd_ = -1;
}

}  // namespace talvek::transfer
