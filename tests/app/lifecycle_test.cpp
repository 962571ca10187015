// Starting and stopping the daemon: the start options that refuse or persist,
// SIGTERM/SIGINT with clients connected, restart on the same settings, the
// /s and /b switches, and the event lines on stdout.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <regex>

#include "app/daemon_harness.h"

namespace talvek::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ListeningLine(uint16_t port) { return "FTP Server ready, listening on port " + std::to_string(port) + "\n"; }

bool Greeted(uint16_t port) {
  LineClient client;
  return client.connect(port) && client.readReply() == kGreeting;
}

// The daemon is stopped by `signal_number` and reports its status in time.
void StopWith(Daemon& daemon, int signal_number) {
  ASSERT_TRUE(daemon.signal(signal_number));
  EXPECT_EQ(daemon.waitExit(seconds(3)), std::optional<int>(0)) << daemon.err();
}

TEST(DaemonStart, WithoutRootDirectoryExitsTwoAndSaysHowToSetOne) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  RunResult run = box.run({"--port", std::to_string(port)});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "talvek-ftpd: no FTP root directory is set; start with --root DIR "
            "(or: talvek-ftpd config set FTPRootDir DIR)\n");
  EXPECT_FALSE(Contains(run.out, "FTP Server ready"));
  EXPECT_EQ(box.get("FTPRootDir"), "");
}

TEST(DaemonStart, RootThatIsNotADirectoryExitsTwoAndStoresNothing) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  std::string missing = (box.path() / "no-such-dir").string();
  const std::string before = box.settingsText();
  RunResult run = box.run({"--root", missing, "--port", std::to_string(port)});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "talvek-ftpd: --root: '" + missing + "' is not a directory\n");
  EXPECT_EQ(box.settingsText(), before);
}

TEST(DaemonStart, MalformedArgumentsExitTwoWithUsage) {
  Sandbox box;
  box.prepareLoopback();
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--port", "0"}, "talvek-ftpd: --port needs a number from 1 to 65535, not '0'\n"},
           {{"--port", "65536"}, "talvek-ftpd: --port needs a number from 1 to 65535, not '65536'\n"},
           {{"--port", "2x"}, "talvek-ftpd: --port needs a number from 1 to 65535, not '2x'\n"},
           {{"--root"}, "talvek-ftpd: --root needs a value\n"},
           {{"--bogus"}, "talvek-ftpd: unknown argument '--bogus'\n"}}) {
    RunResult run = box.run(args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_EQ(run.err.substr(0, message.size()), message);
    EXPECT_TRUE(Contains(run.err, "usage: talvek-ftpd ")) << run.err;
  }
}

TEST(DaemonStart, RootAndPortPersistAndTheNextStartUsesThem) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  {
    // A relative --root is stored absolute, with the trailing "/".
    Daemon daemon(box, {"--root", "root", "--port", std::to_string(port)}, box.path());
    ASSERT_TRUE(daemon.waitListening(port)) << daemon.out() << daemon.err();
    EXPECT_TRUE(Greeted(port));
    StopWith(daemon, SIGTERM);
  }
  EXPECT_EQ(box.get("FTPRootDir"), box.root().string() + "/");
  EXPECT_EQ(box.get("NetSettings.Port"), std::to_string(port));
  EXPECT_EQ(box.get("NetSettings.AlwaysUsePort"), "1");
  // Empty LogonFile: the accounts file beside the settings file.
  EXPECT_EQ(box.get("LogonFile"), (box.settingsFile().parent_path() / "accounts.lgn").string());

  Daemon again(box, {});
  ASSERT_TRUE(again.waitListening(port)) << again.out() << again.err();
  EXPECT_TRUE(Greeted(port));
  StopWith(again, SIGTERM);
}

TEST(DaemonStart, LogonFileAlreadySetIsKept) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  std::string accounts = (box.path() / "elsewhere.lgn").string();
  ASSERT_EQ(box.config({"set", "LogonFile", accounts}).status, 0);
  Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port)});
  ASSERT_TRUE(daemon.waitListening(port)) << daemon.err();
  StopWith(daemon, SIGTERM);
  EXPECT_EQ(box.get("LogonFile"), accounts);
}

class DaemonStop : public ::testing::TestWithParam<int> {};

TEST_P(DaemonStop, SignalWithThreeClientsExitsZeroClosesThemAndLeavesValidSettings) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port)});
  ASSERT_TRUE(daemon.waitListening(port)) << daemon.err();
  std::vector<std::unique_ptr<LineClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<LineClient>());
    ASSERT_TRUE(clients.back()->connect(port));
    ASSERT_EQ(clients.back()->readReply(), kGreeting);
  }
  ASSERT_EQ(clients[0]->ask("NOOP"), "200 Command OK");

  auto asked = std::chrono::steady_clock::now();
  StopWith(daemon, GetParam());
  EXPECT_LT(std::chrono::steady_clock::now() - asked, seconds(3));
  for (auto& client : clients) EXPECT_TRUE(client->waitClosed(seconds(3)));
  EXPECT_TRUE(Contains(daemon.out(), "Server inactive\n")) << daemon.out();
  EXPECT_EQ(daemon.err(), "");

  EXPECT_EQ(box.get("FTPRootDir"), box.root().string() + "/");
  EXPECT_EQ(box.get("NetSettings.Port"), std::to_string(port));
  EXPECT_EQ(box.get("GeneralSettings.MaxConnections"), "50");

  // Restart on the same settings.
  Daemon again(box, {});
  ASSERT_TRUE(again.waitListening(port)) << again.err();
  EXPECT_TRUE(Greeted(port));
  StopWith(again, GetParam());
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, DaemonStop, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "Sigterm" : "Sigint"; });

TEST(DaemonStop, SighupDoesNotStopTheServer) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port)});
  ASSERT_TRUE(daemon.waitListening(port));
  ASSERT_TRUE(daemon.signal(SIGHUP));
  EXPECT_TRUE(Greeted(port));
  EXPECT_TRUE(daemon.running());
  StopWith(daemon, SIGTERM);
}

TEST(DaemonStop, Sigusr1PrintsTheStatisticsAndTheExitPrintsThemAgain) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port)});
  ASSERT_TRUE(daemon.waitListening(port));
  const std::string statistics = "MB transmitted:\t0.00\nMB received:\t0.00\nMax Bytes\\sec:\t1\n";
  ASSERT_TRUE(daemon.signal(SIGUSR1));
  ASSERT_TRUE(daemon.waitForOutput(statistics)) << daemon.out();
  EXPECT_TRUE(daemon.running());
  StopWith(daemon, SIGTERM);
  std::string out = daemon.out();
  EXPECT_NE(out.find(statistics, out.find(statistics) + 1), std::string::npos) << out;
}

class DaemonSwitches : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(DaemonSwitches, AutoStartAndBackgroundSwitchesPersistForLaterStarts) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  ASSERT_EQ(box.config({"set", "GeneralSettings.AutoStart", "0"}).status, 0);
  ASSERT_EQ(box.config({"set", "GeneralSettings.RunInBackground", "0"}).status, 0);
  {
    // Without the switches the flags stay off; the daemon listens anyway.
    Daemon plain(box, {"--root", box.root().string(), "--port", std::to_string(port)});
    ASSERT_TRUE(plain.waitListening(port)) << plain.err();
    StopWith(plain, SIGTERM);
  }
  EXPECT_EQ(box.get("GeneralSettings.AutoStart"), "0");
  EXPECT_EQ(box.get("GeneralSettings.RunInBackground"), "0");
  {
    Daemon switched(box, {GetParam().first, GetParam().second});
    ASSERT_TRUE(switched.waitListening(port)) << switched.err();
    StopWith(switched, SIGTERM);
  }
  EXPECT_EQ(box.get("GeneralSettings.AutoStart"), "1");
  EXPECT_EQ(box.get("GeneralSettings.RunInBackground"), "1");
  {
    Daemon later(box, {});
    ASSERT_TRUE(later.waitListening(port)) << later.err();
    StopWith(later, SIGTERM);
  }
  EXPECT_EQ(box.get("GeneralSettings.AutoStart"), "1");
  EXPECT_EQ(box.get("GeneralSettings.RunInBackground"), "1");
}

INSTANTIATE_TEST_SUITE_P(Spellings, DaemonSwitches,
                         ::testing::Values(std::pair<std::string, std::string>{"/s", "/b"},
                                           std::pair<std::string, std::string>{"-s", "-b"},
                                           std::pair<std::string, std::string>{"--auto-start", "--background"}));

TEST(DaemonEvents, ConnectionAndCloseLinesAppearWhileTheServerRuns) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port)});
  ASSERT_TRUE(daemon.waitListening(port));
  EXPECT_EQ(daemon.out(), ListeningLine(port));
  {
    LineClient client;
    ASSERT_TRUE(client.connect(port));
    ASSERT_EQ(client.readReply(), kGreeting);
    EXPECT_TRUE(daemon.waitForOutput(" New connection: 127.0.0.1\n\n")) << daemon.out();
  }
  // The peer closed without QUIT: it is removed at once, not at stop.
  static const std::regex closed("Connection to (localhost|127\\.0\\.0\\.1) closed\\.\n\n");
  EXPECT_TRUE(WaitUntil([&] { return std::regex_search(daemon.out(), closed); }, seconds(5))) << daemon.out();

  LineClient quitting;
  ASSERT_TRUE(quitting.connect(port));
  ASSERT_EQ(quitting.readReply(), kGreeting);
  ASSERT_TRUE(quitting.command("QUIT"));
  EXPECT_TRUE(quitting.waitClosed());
  auto count = [&] {
    std::string text = daemon.out();
    return std::distance(std::sregex_iterator(text.begin(), text.end(), closed), std::sregex_iterator());
  };
  EXPECT_TRUE(WaitUntil([&] { return count() == 2; }, seconds(5))) << daemon.out();
  EXPECT_TRUE(daemon.running());
  StopWith(daemon, SIGTERM);
  EXPECT_EQ(count(), 2);
  EXPECT_TRUE(daemon.out().ends_with("Server inactive\n")) << daemon.out();
}

TEST(DaemonEvents, XstsCountsTheConnectionsAliveAndEndsWithAnEmptyLine) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port)});
  ASSERT_TRUE(daemon.waitListening(port));
  LineClient first, second;
  ASSERT_TRUE(first.connect(port));
  ASSERT_EQ(first.readReply(), kGreeting);
  ASSERT_TRUE(second.connect(port));
  ASSERT_EQ(second.readReply(), kGreeting);
  EXPECT_EQ(second.ask("XSTS"), "214- Server status:\r\n214- Users connected: 2\r\n214 Files transferred: 0");
  EXPECT_EQ(second.readLine(), "");
  // Lines after QUIT in the same packet are never answered.
  ASSERT_TRUE(second.send("NOOP\r\nQUIT\r\nNOOP\r\n"));
  EXPECT_EQ(second.readReply(), "200 Command OK");
  EXPECT_EQ(second.readReply(), "221 Service closing control connection. Logged out if appropriate.");
  EXPECT_EQ(second.readLine(seconds(3)), std::nullopt);
  EXPECT_TRUE(second.waitClosed(seconds(1)));
  // The peer that quit no longer counts.
  EXPECT_TRUE(WaitUntil([&] {
    auto reply = first.ask("XSTS");
    first.readLine();
    return reply == "214- Server status:\r\n214- Users connected: 1\r\n214 Files transferred: 0";
  }, seconds(5)));
  StopWith(daemon, SIGTERM);
}

}  // namespace
}  // namespace talvek::test
