#include "app/daemon_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace talvek::test {

namespace {

std::atomic<int> run_counter{0};

// The test's environment without anything that could point the daemon at
// real user files, plus a HOME inside the sandbox.
std::vector<std::string> ChildEnvironment(const std::filesystem::path& sandbox) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    auto name = text.substr(0, text.find('='));
    if (name == "HOME" || name == "XDG_CONFIG_HOME" || name == "TALVEK_FTP_SETTINGS" ||
        name == "TALVEK_FTP_HOME")
      continue;
    environment.push_back(text);
  }
  environment.push_back("HOME=" + (sandbox / "home").string());
  environment.push_back("XDG_CONFIG_HOME=" + (sandbox / "home" / ".config").string());
  return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

uint16_t FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  if (fd >= 0) ::close(fd);
  if (!bound) throw std::runtime_error("no free loopback port");
  return ntohs(address.sin_port);
}

Sandbox::Sandbox() {
  std::filesystem::create_directories(path() / "conf");
  std::filesystem::create_directories(path() / "home");
  std::filesystem::create_directories(programDir());
  std::filesystem::create_directories(root());
  auto shipped = std::filesystem::path(TALVEK_FTPD_PATH).parent_path() / "defaults.reg";
  std::filesystem::copy_file(shipped, programDir() / "defaults.reg");
}

RunResult Sandbox::run(const std::vector<std::string>& args, std::chrono::milliseconds limit) const {
  Daemon daemon(*this, args);
  auto status = daemon.waitExit(limit);
  return {status.value_or(-1), daemon.out(), daemon.err()};
}

bool Sandbox::set(const std::string& name, const std::string& value) const {
  return run({"config", "set", name, value}).status == 0;
}

std::string Sandbox::get(const std::string& name) const {
  RunResult result = run({"config", "get", name});
  if (result.status != 0 || result.out.empty() || result.out.back() != '\n') return "<failed>";
  return result.out.substr(0, result.out.size() - 1);
}

uint16_t Sandbox::prepareLoopback() const {
  if (!set("DefaultIP", "127.0.0.1")) throw std::runtime_error("cannot set DefaultIP");
  return FreeLoopbackPort();
}

Daemon::Daemon(const Sandbox& sandbox, const std::vector<std::string>& args, std::filesystem::path cwd) {
  int n = run_counter++;
  out_file_ = sandbox.path() / ("daemon" + std::to_string(n) + ".out");
  err_file_ = sandbox.path() / ("daemon" + std::to_string(n) + ".err");
  if (cwd.empty()) cwd = sandbox.path();
  std::vector<std::string> argv{TALVEK_FTPD_PATH, "--settings", sandbox.settingsFile().string(), "--program-dir",
                                sandbox.programDir().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> envp = ChildEnvironment(sandbox.path());
  auto argv_pointers = Pointers(argv);
  auto envp_pointers = Pointers(envp);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  // The child starts with default signal handling and nothing blocked,
  // whatever the test runner has set up.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int error = posix_spawn(&pid_, argv[0].c_str(), &actions, &attributes, argv_pointers.data(), envp_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) throw std::runtime_error(std::string("cannot start the daemon: ") + std::strerror(error));
}

Daemon::~Daemon() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool Daemon::waitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
  return WaitUntil([&] { return out().find(text) != std::string::npos; }, limit);
}

bool Daemon::waitListening(uint16_t port, std::chrono::milliseconds limit) const {
  return waitForOutput("FTP Server ready, listening on port " + std::to_string(port) + "\n", limit);
}

bool Daemon::signal(int number) const { return !reaped_ && ::kill(pid_, number) == 0; }

bool Daemon::running() {
  if (reaped_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    status_ = status;
  }
  return !reaped_;
}

std::optional<int> Daemon::waitExit(std::chrono::milliseconds limit) {
  WaitUntil([&] { return !running(); }, limit);
  if (!reaped_ || !WIFEXITED(status_)) return std::nullopt;
  return WEXITSTATUS(status_);
}

}  // namespace talvek::test
