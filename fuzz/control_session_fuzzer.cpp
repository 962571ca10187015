// A real control connection: the bytes go over TCP to a server running in
// this process, through the same reader and dispatcher every client reaches,
// with named and anonymous logins, directories, links and a data peer that
// PORT transfers reach. After each input the harness sends QUIT and checks
// that the server closes the connection in bounded time, that every reply
// line is framed, that the connection left the registry, and that nothing
// outside the FTP root changed.
//
// Everything runs in a network namespace of its own, so PORT can only ever
// reach this harness's data peer and never another service on the machine.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "fuzz_check.h"
#include "server/server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The data peer listens here inside the private namespace; seeds name it in PORT.
constexpr uint16_t kDataPort = 2112;  // PORT 127,0,0,1,8,64
// Far above a session's normal few milliseconds, below the server's own
// waits of seconds, so a stall of the control thread shows.
constexpr auto kSessionLimit = std::chrono::milliseconds(2500);
constexpr size_t kMaxReplyBytes = 64 << 20;
constexpr int kResetEvery = 1000;

bool WriteText(const char* path, const std::string& text) {
  std::ofstream out(path);
  return static_cast<bool>(out << text);
}

// A loopback of our own: as root a new network namespace; otherwise inside
// a user namespace that maps us to root there.
void EnterPrivateNetwork() {
  if (::unshare(CLONE_NEWNET) != 0) {
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    bool mapped = ::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 && WriteText("/proc/self/setgroups", "deny") &&
                  WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                  WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    if (!mapped) {
      std::fprintf(stderr, "control_session_fuzzer needs a network namespace of its own (root or user namespaces)\n");
      std::exit(1);
    }
  }
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ifreq request{};
  std::snprintf(request.ifr_name, IFNAMSIZ, "lo");
  bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
            (request.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
  ::close(fd);
  if (!up) {
    std::fprintf(stderr, "control_session_fuzzer cannot bring up its loopback\n");
    std::exit(1);
  }
}

int Loopback(uint16_t port, bool listening) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  // Thousands of sessions a second can briefly leave the client side short
  // (local ports, backlog): a bounded second of retries; a server that
  // really stopped listening still fails the run.
  int error = 0;
  for (int attempt = 0; attempt < 50; ++attempt) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bool ok = listening ? ::bind(fd, raw, sizeof address) == 0 && ::listen(fd, 64) == 0
                        : ::connect(fd, raw, sizeof address) == 0;
    if (ok) return fd;
    error = errno;
    ::close(fd);
    if (listening) break;
    ::usleep(20000);
  }
  std::fprintf(stderr, "loopback socket: %s\n", std::strerror(error));
  FUZZ_CHECK(false, "loopback socket");
  return -1;
}

// The other end of PORT transfers: sends a few bytes to whoever connects,
// reads what it is sent (bounded) and closes.
class DataPeer {
 public:
  DataPeer() : listener_(Loopback(kDataPort, true)), thread_([this] { run(); }) {}
  ~DataPeer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }

 private:
  void run() {
    while (!stop_) {
      pollfd ready{listener_, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      static const char kBytes[] = "data from the peer\r\n";
      (void)::send(fd, kBytes, sizeof kBytes - 1, MSG_NOSIGNAL);
      ::shutdown(fd, SHUT_WR);
      char sink[65536];
      auto until = Clock::now() + std::chrono::seconds(2);
      for (pollfd more{fd, POLLIN, 0}; Clock::now() < until && ::poll(&more, 1, 100) >= 0;) {
        if ((more.revents & POLLIN) && ::recv(fd, sink, sizeof sink, 0) <= 0) break;
      }
      ::close(fd);
    }
  }

  int listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::map<std::string, uintmax_t> Listing(const fs::path& dir) {
  std::map<std::string, uintmax_t> entries;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(dir, error)) {
    entries[fs::relative(entry.path(), dir).string()] = entry.is_regular_file() ? entry.file_size() : 0;
  }
  return entries;
}

class Sandbox {
 public:
  Sandbox() {
    char pattern[] = "/tmp/talvek-session-fuzz-XXXXXX";
    base_ = ::mkdtemp(pattern);
    fs::create_directories(base_ / "outside");
    std::ofstream(base_ / "outside/secret.txt") << "secret";
    plantTree();
    outside_ = Listing(base_ / "outside");

    talvek::settings::Settings settings;
    settings.ftpRootDir = root();
    settings.uploadsDir = root() + "pub/";
    settings.general.maxConnections = 1000;
    settings.general.connectionsPerAddress = 1000;
    settings.general.refuseNew = 1;
    settings.general.monitorNew = 1;
    settings.enableLog = 1;
    settings.logPath = "/dev/null";
    settings.net.port = 0;
    settings.net.alwaysUsePort = 1;
    settings.anonymous.allow = 1;
    settings.anonymous.rights = 7;
    talvek::server::ServerEnvironment environment;
    environment.program_directory = base_;
    environment.default_ip = "127.0.0.1";
    environment.reverse_lookup = [](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
      done({});
    };
    server_ = std::make_unique<talvek::server::Server>(view_);
    server_->initialise(settings, environment);
    server_->data_connection_timeout_ms = 200;
    server_->accounts().append({.name = "alice", .password = "pw", .homeDir = root() + "alice/", .permissions = 7});
    server_->accounts().append({.name = "bob", .password = "pw", .permissions = 1});
    server_->toggleActive();
    auto started = server_->waitForStart();
    FUZZ_CHECK(started && started->listening, "the server listens");
    port_ = started->port;
  }
  ~Sandbox() {
    server_->shutdown();
    server_.reset();
    fs::remove_all(base_);
  }

  std::string root() const { return (base_ / "ftp").string() + "/"; }
  uint16_t port() const { return port_; }
  talvek::server::Server& server() { return *server_; }

  // The tree the clients change, planted afresh now and then.
  void plantTree() {
    fs::remove_all(base_ / "ftp");
    for (const char* dir : {"ftp/pub/deep", "ftp/alice", "ftp/bob"}) fs::create_directories(base_ / dir);
    std::ofstream(base_ / "ftp/pub/readme.txt") << "readme";
    std::ofstream(base_ / "ftp/alice/notes.txt") << "notes";
    std::ofstream(base_ / "ftp/bob/secret.txt") << "bob's";
    fs::create_directory_symlink("pub", base_ / "ftp/in");
    fs::create_symlink("../../outside/new.txt", base_ / "ftp/pub/dangle");
  }

  // Nothing beside the FTP root was created, changed or removed.
  bool outsideUntouched() const {
    for (const auto& entry : fs::directory_iterator(base_)) {
      std::string name = entry.path().filename().string();
      if (name != "ftp" && name != "outside") return false;
    }
    return Listing(base_ / "outside") == outside_;
  }

 private:
  fs::path base_;
  std::map<std::string, uintmax_t> outside_;
  talvek::server::SilentView view_;
  std::unique_ptr<talvek::server::Server> server_;
  uint16_t port_ = 0;
};

Sandbox* TheSandbox = nullptr;

// After the greeting, sends everything while reading whatever comes back,
// so neither side's buffers can stall the other; then reads until the
// server closes.
std::string Exchange(int fd, std::string_view bytes) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::string received;
  size_t sent = 0;
  bool sending = true;
  auto until = Clock::now() + kSessionLimit;
  for (;;) {
    FUZZ_CHECK(Clock::now() < until, "the server closes the connection after QUIT in bounded time");
    bool greeted = received.find("\r\n") != std::string::npos;
    pollfd ready{fd, static_cast<short>(POLLIN | (sending && greeted ? POLLOUT : 0)), 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    if (ready.revents & (POLLIN | POLLHUP | POLLERR)) {
      char chunk[65536];
      ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN)) return received;
      if (n > 0) received.append(chunk, static_cast<size_t>(n));
      FUZZ_CHECK(received.size() <= kMaxReplyBytes, "replies bounded");
    }
    if (ready.revents & POLLOUT) {
      ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n > 0) sent += static_cast<size_t>(n);
      // The server may close first (a QUIT in the input): the rest is moot.
      if (sent == bytes.size() || (n < 0 && errno != EAGAIN)) sending = false;
    }
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Every reply line ends with CR LF; a reply starts with a code and a space or hyphen.
void CheckFraming(const std::string& replies) {
  FUZZ_CHECK(replies.empty() || replies.ends_with("\r\n"), "replies end with CR LF");
  bool in_multiline = false;
  for (size_t start = 0; start < replies.size();) {
    size_t end = replies.find("\r\n", start);
    std::string_view line(replies.data() + start, end - start);
    bool coded = line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
                 (line[3] == ' ' || line[3] == '-');
    FUZZ_CHECK(coded || in_multiline || line.empty(), "a reply starts with its code");
    if (coded) in_multiline = line[3] == '-';
    start = end + 2;
  }
}

template <typename Condition>
bool WaitUntil(Condition condition) {
  auto until = Clock::now() + std::chrono::seconds(5);
  while (!condition() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return condition();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterPrivateNetwork();
  static DataPeer peer;
  static Sandbox sandbox;
  TheSandbox = &sandbox;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int runs = 0;
  Sandbox& sandbox = *TheSandbox;
  if (++runs % kResetEvery == 0) sandbox.plantTree();

  int fd = Loopback(sandbox.port(), false);
  std::string session(reinterpret_cast<const char*>(data), size);
  session += "\r\nQUIT\r\n";
  std::string replies = Exchange(fd, session);
  ::close(fd);
  FUZZ_CHECK(replies.starts_with("220 "), "the server greets");
  CheckFraming(replies);
  FUZZ_CHECK(WaitUntil([&] { return sandbox.server().registrySnapshot().empty(); }),
             "a closed connection leaves the registry");
  FUZZ_CHECK(sandbox.outsideUntouched(), "nothing outside the FTP root changes");
  return 0;
}
