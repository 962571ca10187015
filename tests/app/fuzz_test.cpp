// Random garbage at a live connection of the real daemon: a few thousand
// lines of arbitrary bytes (NUL, lone CR and LF, 0xFF and other Telnet bytes,
// lines far over 4096 bytes) must leave the connection serving and the
// server greeting newcomers.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <random>

#include "app/daemon_harness.h"

namespace talvek::test {
namespace {

using std::chrono::seconds;

// Bytes of a random line. ASCII letters are left out so that no line can
// ever spell a real command (a stray PORT or QUIT would change what the
// rest of the test sees); every other byte value is fair game.
std::string RandomLine(std::mt19937& random) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> shape(0, 99);
  int kind = shape(random);
  size_t length = kind < 3 ? 4097 + random() % 6000 : kind < 10 ? 0 : random() % 200;
  std::string line;
  while (line.size() < length) {
    char c = static_cast<char>(byte(random));
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) continue;
    // Keep CR LF for the end: inside, CR and LF come alone.
    if (c == '\n' && !line.empty() && line.back() == '\r') continue;
    line += c;
  }
  switch (shape(random) % 4) {
    case 0: return line + "\n";
    case 1: return line + "\r";
    default: return line + "\r\n";
  }
}

// Appends whatever has arrived within `wait_ms` to `received`; false once the peer has closed.
bool Drain(int fd, std::string& received, int wait_ms) {
  for (int rounds = 0; rounds < 100000; ++rounds) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, rounds == 0 ? wait_ms : 0) <= 0) return true;
    char chunk[65536];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) return true;
    received.append(chunk, static_cast<size_t>(n));
  }
  return true;
}

TEST(DaemonFuzz, ThousandsOfRandomLinesLeaveTheConnectionAndServerServing) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port)});
  ASSERT_TRUE(daemon.waitListening(port)) << daemon.err();

  LineClient client;
  ASSERT_TRUE(client.connect(port));
  ASSERT_EQ(client.readReply(), kGreeting);

  std::mt19937 random(20240611);
  std::string flood;
  for (int i = 0; i < 4000; ++i) flood += RandomLine(random);
  ASSERT_GT(flood.size(), 200000u);

  // Send in slices and drain the replies in between, so neither side's
  // buffers fill while the other waits.
  std::string received;
  bool open = true;
  for (size_t at = 0; at < flood.size() && open; at += 32768) {
    ASSERT_TRUE(client.send(flood.substr(at, 32768))) << "send failed at byte " << at;
    open = Drain(client.fd(), received, 0);
  }
  ASSERT_TRUE(open) << "the server closed the connection during the flood";
  // End any unterminated line, then a marker whose reply ends the flood's replies.
  ASSERT_TRUE(client.send("\r\nSYST\r\n"));
  const std::string marker = "215 UNIX\r\n";
  auto until = std::chrono::steady_clock::now() + seconds(15);
  while (!received.ends_with(marker) && std::chrono::steady_clock::now() < until)
    ASSERT_TRUE(Drain(client.fd(), received, 100)) << "closed after the flood";
  ASSERT_TRUE(received.ends_with(marker)) << received.size() << " bytes, no SYST reply";

  // Every reply to the garbage is the plain 500, none torn or reordered.
  size_t replies = 0;
  for (size_t start = 0; start < received.size() - marker.size();) {
    size_t end = received.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    ASSERT_EQ(received.substr(start, end - start), "500 Syntax error, command unrecognized")
        << "reply " << replies;
    ++replies;
    start = end + 2;
  }
  EXPECT_GT(replies, 1000u);

  EXPECT_EQ(client.ask("NOOP"), "200 Command OK");
  LineClient newcomer;
  ASSERT_TRUE(newcomer.connect(port));
  EXPECT_EQ(newcomer.readReply(), kGreeting);
  EXPECT_EQ(newcomer.ask("NOOP"), "200 Command OK");
  EXPECT_TRUE(daemon.running());
  ASSERT_TRUE(daemon.signal(SIGTERM));
  EXPECT_EQ(daemon.waitExit(seconds(3)), std::optional<int>(0));
}

}  // namespace
}  // namespace talvek::test
