// The running daemon as real FTP clients see it: Python ftplib and curl.
// Exact replies of each command are pinned against the server core.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "app/daemon_harness.h"

namespace talvek::test {
namespace {

using std::chrono::seconds;

// One daemon for the whole suite: starting it per test adds nothing these
// tests look at.
class RunningDaemon : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    box_ = new Sandbox;
    port_ = box_->prepareLoopback();
    daemon_ = new Daemon(*box_, {"--root", box_->root().string(), "--port", std::to_string(port_)});
    ASSERT_TRUE(daemon_->waitListening(port_)) << daemon_->out() << daemon_->err();
  }
  static void TearDownTestSuite() {
    if (daemon_ && daemon_->running()) {
      daemon_->signal(SIGTERM);
      daemon_->waitExit(seconds(3));
    }
    delete daemon_;
    delete box_;
    daemon_ = nullptr;
    box_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(daemon_ && daemon_->running()) << "the daemon is not running"; }
  void TearDown() override { EXPECT_TRUE(daemon_->running()) << "the daemon died:\n" << daemon_->err(); }

  // A client that has read the greeting.
  static std::unique_ptr<LineClient> Greeted() {
    auto client = std::make_unique<LineClient>();
    EXPECT_TRUE(client->connect(port_));
    EXPECT_EQ(client->readReply(), kGreeting);
    return client;
  }
  static std::string Shell(const std::string& command) {
    // A HOME of the sandbox keeps the clients away from the user's rc files.
    return "cd '" + box_->path().string() + "' && HOME='" + (box_->path() / "home").string() + "' " + command;
  }

  static Sandbox* box_;
  static Daemon* daemon_;
  static uint16_t port_;
};

Sandbox* RunningDaemon::box_ = nullptr;
Daemon* RunningDaemon::daemon_ = nullptr;
uint16_t RunningDaemon::port_ = 0;

TEST_F(RunningDaemon, PythonFtplibGetsGreetingAndReplies) {
  const std::string script =
      "import ftplib\n"
      "f = ftplib.FTP()\n"
      "f.connect('127.0.0.1', " + std::to_string(port_) + ", timeout=5)\n"
      "print(f.getwelcome())\n"
      "for c in ('SYST', 'NOOP', 'TYPE I', 'MODE S', 'STRU F', 'HELP stat', 'STAT'):\n"
      "    print(f.sendcmd(c))\n"
      "try:\n"
      "    f.sendcmd('TYPE E')\n"
      "except ftplib.error_perm as e:\n"
      "    print(e)\n"
      "f.close()\n";
  CommandResult run = RunCommand(Shell("timeout 20 python3 -c \"$(cat <<'PYEOF'\n" + script + "PYEOF\n)\""));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output,
            "220 Service ready for new user\n"
            "215 UNIX\n"
            "200 Command OK\n"
            "200 Command OK\n"
            "200 Command OK\n"
            "200 Command OK\n"
            "214 STAT Transmit current server status information\n"
            "202 Command not implemented, superfluous on this server\n"
            "504 Command not implemented for that parameter\n");
}

TEST_F(RunningDaemon, CurlSeesTheGreetingAndTheDaemonStaysUp) {
  CommandResult run = RunCommand(Shell("timeout 20 curl -q -v -s --max-time 10 ftp://127.0.0.1:" +
                                       std::to_string(port_) + "/ -o /dev/null"));
  EXPECT_NE(run.output.find("< 220 Service ready for new user"), std::string::npos) << run.output;
  EXPECT_NE(run.status, 124) << "curl hung:\n" << run.output;
  auto after = Greeted();
  EXPECT_EQ(after->ask("NOOP"), "200 Command OK");
}

}  // namespace
}  // namespace talvek::test
