#include "support/test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace talvek::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "talvek-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
  path_ = std::filesystem::canonical(pattern);
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

void TempDir::write(const std::string& relative, const std::string& content) const {
  auto target = path_ / relative;
  std::filesystem::create_directories(target.parent_path());
  WriteFile(target, content);
}

std::string TempDir::read(const std::string& relative) const { return ReadFile(path_ / relative); }

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

LineClient::~LineClient() { close(); }

socklen_t SocketAddress(const std::string& address, uint16_t port, sockaddr_storage& storage) {
  storage = {};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    return sizeof *v4;
  }
  if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) != 1) return 0;
  v6->sin6_family = AF_INET6;
  v6->sin6_port = htons(port);
  return sizeof *v6;
}

bool LineClient::connect(uint16_t port, const std::string& address, const std::string& source) {
  close();
  sockaddr_storage peer, local;
  socklen_t length = SocketAddress(address, port, peer);
  fd_ = ::socket(peer.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (!source.empty()) {
    socklen_t local_length = SocketAddress(source, 0, local);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), local_length) != 0) return false;
  }
  closed_ = false;
  buffer_.clear();
  return ::connect(fd_, reinterpret_cast<sockaddr*>(&peer), length) == 0;
}

bool LineClient::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool LineClient::fill(std::chrono::steady_clock::time_point until) {
  if (fd_ < 0 || closed_) return false;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
  if (left.count() < 0) return false;
  pollfd wait{fd_, POLLIN, 0};
  if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return false;
  char chunk[4096];
  ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n <= 0) {
    closed_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(n));
  return true;
}

std::optional<std::string> LineClient::readLine(std::chrono::milliseconds deadline) {
  auto until = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    auto end = buffer_.find("\r\n");
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 2);
      return line;
    }
    if (!fill(until)) return std::nullopt;
  }
}

std::optional<std::string> LineClient::readReply(std::chrono::milliseconds deadline) {
  auto first = readLine(deadline);
  if (!first) return std::nullopt;
  std::string reply = *first;
  if (first->size() >= 4 && (*first)[3] == '-') {
    std::string code = first->substr(0, 3);
    for (int lines = 0; lines < 10000; ++lines) {
      auto next = readLine(deadline);
      if (!next) return std::nullopt;
      reply += "\r\n" + *next;
      if (next->size() >= 4 && next->compare(0, 3, code) == 0 && (*next)[3] == ' ') break;
    }
  }
  return reply;
}

std::optional<std::string> LineClient::ask(const std::string& line) {
  if (!command(line)) return std::nullopt;
  return readReply();
}

bool LineClient::waitClosed(std::chrono::milliseconds deadline) {
  auto until = std::chrono::steady_clock::now() + deadline;
  while (!closed_) {
    buffer_.clear();
    if (!fill(until) && !closed_) return false;
  }
  return true;
}

bool LineClient::silentFor(std::chrono::milliseconds quiet) {
  if (!buffer_.empty()) return false;
  size_t before = buffer_.size();
  fill(std::chrono::steady_clock::now() + quiet);
  return buffer_.size() == before;
}

void LineClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  std::string full = command + " 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (!pipe) return result;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace talvek::test
