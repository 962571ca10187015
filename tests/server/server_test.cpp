// Start, stop and the connection registry of a real server.
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

#include "support/server_fixture.h"

namespace talvek::server {
namespace {

using test::ServerFixture;

TEST(Server, StopClosesEveryConnectionAndRestartListensAgain) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  auto a = fixture.connect();
  auto b = fixture.connect();
  auto c = fixture.connect();
  ASSERT_TRUE(fixture.waitForRegistered(3));
  fixture.server().toggleActive();
  EXPECT_TRUE(a->waitClosed());
  EXPECT_TRUE(b->waitClosed());
  EXPECT_TRUE(c->waitClosed());
  EXPECT_TRUE(fixture.waitForRegistered(0));
  EXPECT_TRUE(test::WaitUntil([&] { return fixture.server().connectionCount() == 0; }));
  EXPECT_TRUE(test::WaitUntil([&] {
    std::string title = fixture.view().lastTitle(), tail = ": 0 connections";
    return title.size() > tail.size() && title.compare(title.size() - tail.size(), tail.size(), tail) == 0;
  })) << fixture.view().lastTitle();
  auto statuses = fixture.view().statuses();
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Server inactive"), statuses.end());

  fixture.server().toggleActive();
  auto started = fixture.server().waitForStart();
  ASSERT_TRUE(started && started->listening);
  test::LineClient again;
  ASSERT_TRUE(again.connect(started->port));
  EXPECT_EQ(again.readReply(), "220 Service ready for new user");
}

TEST(Server, StartOnAPortInUseReportsTheFailureAndStaysInactive) {
  int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);
  ::listen(blocker, 1);

  test::TempDir root;
  auto settings = test::LoopbackSettings(root.dir());
  settings.net.port = ntohs(address.sin_port);
  ServerFixture fixture(settings);
  EXPECT_EQ(fixture.port(), 0);
  EXPECT_FALSE(fixture.server().active());
  auto statuses = fixture.view().statuses();
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Failed to create passive socket"), statuses.end());
  auto messages = fixture.view().messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(),
            "Failed to start server.\nCheck that no other network applications are using TCP/IP port 21");
  EXPECT_NE(fixture.view().monitor().find("The specified address is already in use.\r\n"), std::string::npos);
  ::close(blocker);
}

TEST(Server, ReadyStatusNamesThePortAndTitleCountsConnections) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  auto statuses = fixture.view().statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), "FTP Server ready, listening on port " + std::to_string(fixture.port()));
  auto client = fixture.connect();
  ASSERT_TRUE(fixture.waitForRegistered(1));
  std::string expected_tail = " (127.0.0.1) : 1 connection";
  auto title = fixture.server().title();
  EXPECT_EQ(title.rfind("Talvek FTP - ", 0), 0u) << title;
  EXPECT_EQ(title.substr(title.size() - expected_tail.size()), expected_tail);
}

TEST(Server, RemovalRenumbersSlotsDensely) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  std::vector<std::unique_ptr<test::LineClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(fixture.connect());
    ASSERT_TRUE(fixture.waitForRegistered(static_cast<size_t>(i + 1)));
  }
  clients[1]->close();
  ASSERT_TRUE(fixture.waitForRegistered(3));
  std::vector<uint32_t> slots;
  for (const auto& record : fixture.server().registrySnapshot()) slots.push_back(record->slot_number.load());
  EXPECT_EQ(slots, (std::vector<uint32_t>{1, 2, 3}));
}

TEST(Server, RemovalCompletesOnceAHeldUsageGateIsReleased) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  auto client = fixture.connect();
  ASSERT_TRUE(fixture.waitForRegistered(1));
  auto record = fixture.server().registrySnapshot().front();
  record->gate.acquire();
  ASSERT_TRUE(client->command("QUIT"));
  record->gate.release();
  EXPECT_TRUE(test::WaitUntil([&] { return fixture.view().monitor().find("closed.") != std::string::npos; }));
  EXPECT_TRUE(client->waitClosed());
  EXPECT_TRUE(fixture.waitForRegistered(0));
}

// Starts connecting `count` new sockets (made first, all of them, when
// `made` is given) without waiting for the handshakes.
std::vector<int> StartConnecting(uint16_t port, int count, const std::function<void()>& made = {}) {
  std::vector<int> sockets;
  for (int i = 0; i < count; ++i) sockets.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (made) made();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
    ::pread(stat, text, sizeof text - 1, 0);
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
  bool paused = test::WaitUntil(
      [&] { return fixture.view().monitor().find("Accepting connections paused: Too many open files") != std::string::npos; });
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

TEST(UsageGate, WaitEndsWhenTheLastHolderReleases) {
  UsageGate gate;
  EXPECT_TRUE(gate.waitFor(std::chrono::milliseconds(0)));
  gate.acquire();
  gate.acquire();
  gate.release();
  EXPECT_FALSE(gate.waitFor(std::chrono::milliseconds(1)));
  gate.release();
  EXPECT_TRUE(gate.waitFor(std::chrono::milliseconds(0)));
  gate.release();  // extra releases never go below zero
  EXPECT_EQ(gate.holders(), 0);
}

TEST(Server, DisconnectsAnonymousUsersOfAnyCase) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  auto anonymous = fixture.connect();
  auto named = fixture.connect();
  ASSERT_TRUE(fixture.waitForRegistered(2));
  auto records = fixture.server().registrySnapshot();
  {
    std::lock_guard lock(records[0]->text_mutex);
    records[0]->user_name = "Anonymous";
  }
  {
    std::lock_guard lock(records[1]->text_mutex);
    records[1]->user_name = "bob";
  }
  records.clear();
  fixture.server().runOnControlThread([&] { fixture.server().disconnectAnonymousUsers(); });
  EXPECT_TRUE(anonymous->waitClosed());
  EXPECT_EQ(named->ask("NOOP"), "200 Command OK");
}

}  // namespace
}  // namespace talvek::server
