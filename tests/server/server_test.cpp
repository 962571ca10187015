// Start, the connection registry, accepting under load and the idle sweep of a real server.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "log/log_thread.h"
#include "support/server_fixture.h"

namespace talvek::server {
namespace {

using test::ServerFixture;

const std::string kOk = "200 Command OK";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Stopping with clients, restarting and a failed start as the operator sees
// them are the console's tests; here the title and the reasons a start failed.
TEST(Server, TitleCountsConnectionsAndAStartOnAPortInUseSaysWhy) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  auto client = fixture.connect();
  ASSERT_TRUE(fixture.waitForRegistered(1));
  auto title = fixture.server().title();
  EXPECT_EQ(title.rfind("Talvek FTP - ", 0), 0u) << title;
  EXPECT_TRUE(title.ends_with(" (127.0.0.1) : 1 connection")) << title;

  auto settings = test::LoopbackSettings(root.dir());
  settings.net.port = fixture.port();
  ServerFixture second(settings);
  EXPECT_EQ(second.port(), 0);
  EXPECT_FALSE(second.server().active());
  EXPECT_TRUE(Contains(second.view().events(),
                       "status: Failed to create passive socket\nmessage: Failed to start server.\nCheck that no "
                       "other network applications are using TCP/IP port 21\n"))
      << second.view().events();
  EXPECT_TRUE(Contains(second.view().monitor(), "The specified address is already in use.\r\n"));
}

TEST(Server, RemovalRenumbersSlotsDensely) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  std::vector<std::unique_ptr<test::LineClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(fixture.connect());
    ASSERT_TRUE(fixture.waitForRegistered(static_cast<size_t>(i + 1)));
  }
  ASSERT_TRUE(clients[1]->command("QUIT"));
  EXPECT_TRUE(clients[1]->waitClosed());
  ASSERT_TRUE(fixture.waitForRegistered(3));
  std::vector<uint32_t> slots;
  for (const auto& left : fixture.server().registrySnapshot()) slots.push_back(left->shared.slot_number.load());
  EXPECT_EQ(slots, (std::vector<uint32_t>{1, 2, 3}));
}

// Starts connecting `count` new sockets (made first, all of them, when
// `made` is given) without waiting for the handshakes.
std::vector<int> StartConnecting(uint16_t port, int count, const std::function<void()>& made = {}) {
  std::vector<int> sockets;
  for (int i = 0; i < count; ++i) sockets.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (made) made();
  sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  for (int fd : sockets) ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return sockets;
}

// How many of `sockets` read a greeting before `limit`; closes them all.
int Greeted(const std::vector<int>& sockets, std::chrono::seconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  int greeted = 0;
  for (int fd : sockets) {
    pollfd ready{fd, POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    char text[5] = {};
    if (::poll(&ready, 1, std::max<int>(0, static_cast<int>(left.count()))) == 1 && ::recv(fd, text, 4, 0) == 4 &&
        std::string(text) == "220 ")
      ++greeted;
    ::close(fd);
  }
  return greeted;
}

TEST(Server, ABurstOfClientsIsGreetedWithoutWaitingForRetransmits) {
  test::TempDir root;
  auto settings = test::LoopbackSettings(root.dir());
  settings.general.maxConnections = 1000;
  ServerFixture fixture(settings);
  EXPECT_EQ(Greeted(StartConnecting(fixture.port(), 300), std::chrono::seconds(10)), 300);
}

TEST(Server, OutOfDescriptorsTheListenerPausesWithoutSpinningAndServesAfter) {
#ifdef __SANITIZE_ADDRESS__
  // The sanitizers probe memory through a pipe, which a process out of
  // descriptors cannot open; they then report false errors.
  GTEST_SKIP() << "needs free descriptors under the sanitizers";
#endif
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  pid_t control_thread = 0;
  fixture.server().runOnControlThread([&] { control_thread = ::gettid(); });
  int stat = ::open(("/proc/self/task/" + std::to_string(control_thread) + "/stat").c_str(), O_RDONLY);
  ASSERT_GE(stat, 0);
  auto cpu_ticks = [stat] {  // user + system time of the control thread
    char text[1024] = {};
    if (::pread(stat, text, sizeof text - 1, 0) <= 0) return 0L;
    const char* state = std::strchr(text, ')');
    long user = 0, system = 0;
    if (state) std::sscanf(state + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &user, &system);
    return user + system;
  };
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  std::vector<int> hogs;
  auto clients = StartConnecting(fixture.port(), 3, [&] {  // the clients' sockets exist, the server's cannot
    rlimit lowered = saved;
    lowered.rlim_cur = 256;
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; hogs.size() < 256 && (fd = ::dup(stat)) >= 0;) hogs.push_back(fd);
  });
  bool paused =
      test::WaitUntil([&] { return Contains(fixture.view().monitor(), "Accepting connections paused: Too many open files"); });
  long before = cpu_ticks();
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the measured interval, not a wait for an event
  long spent = cpu_ticks() - before;
  for (int fd : hogs) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  ::close(stat);
  EXPECT_TRUE(paused);
  EXPECT_LT(spent, sysconf(_SC_CLK_TCK) / 4) << "ticks of CPU in one second";
  EXPECT_EQ(Greeted(clients, std::chrono::seconds(5)), 3);
  std::string monitor = fixture.view().monitor();
  EXPECT_EQ(monitor.find("Accepting connections paused"), monitor.rfind("Accepting connections paused"));
}

// One sweep closes every connection idle for more than the timeout in whole
// minutes; any command counts as activity.
TEST(IdleTimeout, OneSweepClosesEveryConnectionIdleLongerThanTheTimeout) {
  test::TempDir root;
  auto settings = test::LoopbackSettings(root.dir());
  settings.general.timeoutIdle = 1;
  settings.general.timeoutMinutes = 90;
  ServerFixture fixture(settings);
  std::vector<std::unique_ptr<test::LineClient>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(fixture.connect());
  ASSERT_TRUE(fixture.waitForRegistered(4));
  auto records = fixture.server().registrySnapshot();  // in the order the clients came
  std::time_t now = std::time(nullptr);
  records[0]->shared.last_activity = now - (90 * 60 + 59);  // 90 whole minutes: stays
  records[1]->shared.last_activity = now - 91 * 60;
  records[2]->shared.last_activity = now - 91 * 60;
  records[3]->shared.last_activity = now - 5 * 3600;
  EXPECT_EQ(clients[3]->ask("NOOP"), kOk);
  records.clear();
  ASSERT_TRUE(fixture.server().runOnControlThread([&] { fixture.server().idleSweep(now); }));
  EXPECT_TRUE(clients[1]->waitClosed());
  EXPECT_TRUE(clients[2]->waitClosed());
  EXPECT_EQ(clients[0]->ask("NOOP"), kOk);
  EXPECT_EQ(clients[3]->ask("NOOP"), kOk);
  EXPECT_TRUE(fixture.waitForRegistered(2));
  std::string expected = log::FormatLocalTime(now) + " : Host 127.0.0.1 disconnected on timeout\r\n(Last activity at " +
                         log::FormatLocalTime(now - 91 * 60) + ")\r\n\r\n";
  EXPECT_TRUE(Contains(fixture.view().monitor(), expected)) << fixture.view().monitor();
}

}  // namespace
}  // namespace talvek::server
