// Starting and stopping the daemon: the start options that refuse or persist,
// SIGTERM/SIGINT with clients connected, restart on the same settings, and
// the /s and /b switches. (The event lines are the server tests'.)
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "app/daemon_harness.h"

namespace talvek::test {
namespace {

using std::chrono::seconds;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool Greeted(uint16_t port) {
  LineClient client;
  return client.connect(port) && client.readReply() == kGreeting;
}

// The daemon is stopped by `signal_number` and reports its status in time.
void StopWith(Daemon& daemon, int signal_number) {
  ASSERT_TRUE(daemon.signal(signal_number));
  EXPECT_EQ(daemon.waitExit(seconds(3)), std::optional<int>(0)) << daemon.err();
}

TEST(DaemonStart, RefusedStartsExitTwoWithTheReasonAndStoreNothing) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  std::string missing = (box.path() / "no-such-dir").string();
  const std::string before = ReadFile(box.settingsFile());
  const std::string usage = "usage: talvek-ftpd ";
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--port", std::to_string(port)},
            "talvek-ftpd: no FTP root directory is set; start with --root DIR (or: talvek-ftpd config set "
            "FTPRootDir DIR)\n"},
           {{"--root", missing, "--port", std::to_string(port)}, "talvek-ftpd: --root: '" + missing + "' is not a directory\n"},
           {{"--port", "65536"}, "talvek-ftpd: --port needs a number from 1 to 65535, not '65536'\n" + usage},
           {{"--port", "2x"}, "talvek-ftpd: --port needs a number from 1 to 65535, not '2x'\n" + usage},
           {{"--root"}, "talvek-ftpd: --root needs a value\n" + usage}}) {
    RunResult run = box.run(args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_EQ(run.err.substr(0, message.size()), message);
    EXPECT_FALSE(Contains(run.out, "FTP Server ready"));
    EXPECT_EQ(ReadFile(box.settingsFile()), before);
  }
}

class DaemonStop : public ::testing::TestWithParam<int> {};

TEST_P(DaemonStop, SignalWithThreeClientsExitsZeroClosesThemAndLeavesValidSettings) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  // A relative --root is stored absolute, with the trailing "/".
  Daemon daemon(box, {"--root", "root", "--port", std::to_string(port)}, box.path());
  ASSERT_TRUE(daemon.waitListening(port)) << daemon.err();
  std::vector<std::unique_ptr<LineClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<LineClient>());
    ASSERT_TRUE(clients.back()->connect(port) && clients.back()->readReply() == kGreeting);
  }
  ASSERT_EQ(clients[0]->ask("NOOP"), "200 Command OK");
  // SIGUSR1 prints the statistics; the exit prints them once more.
  const std::string statistics = "MB transmitted:\t0.00\nMB received:\t0.00\nMax Bytes\\sec:\t1\n";
  ASSERT_TRUE(daemon.signal(SIGUSR1));
  ASSERT_TRUE(daemon.waitForOutput(statistics)) << daemon.out();

  auto asked = std::chrono::steady_clock::now();
  StopWith(daemon, GetParam());
  EXPECT_LT(std::chrono::steady_clock::now() - asked, seconds(3));
  for (auto& client : clients) EXPECT_TRUE(client->waitClosed(seconds(3)));
  std::string out = daemon.out();
  EXPECT_TRUE(Contains(out, "Server inactive\n")) << out;
  EXPECT_NE(out.find(statistics, out.find(statistics) + 1), std::string::npos) << out;
  EXPECT_EQ(daemon.err(), "");

  EXPECT_EQ(box.get("FTPRootDir"), box.root().string() + "/");
  EXPECT_EQ(box.get("NetSettings.Port"), std::to_string(port));
  EXPECT_EQ(box.get("NetSettings.AlwaysUsePort"), "1");
  EXPECT_EQ(box.get("GeneralSettings.MaxConnections"), "50");
  // Empty LogonFile: the accounts file beside the settings file.
  EXPECT_EQ(box.get("LogonFile"), (box.settingsFile().parent_path() / "accounts.lgn").string());

  // Restart on the same settings.
  Daemon again(box, {});
  ASSERT_TRUE(again.waitListening(port)) << again.err();
  EXPECT_TRUE(Greeted(port));
  StopWith(again, GetParam());
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, DaemonStop, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "Sigterm" : "Sigint"; });

TEST(DaemonSwitches, AutoStartAndBackgroundSwitchesPersistForLaterStarts) {
  for (const auto& [auto_start, background] : std::vector<std::pair<std::string, std::string>>{
           {"/s", "/b"}, {"-s", "-b"}, {"--auto-start", "--background"}}) {
    Sandbox box;
    uint16_t port = box.prepareLoopback();
    ASSERT_TRUE(box.set("GeneralSettings.AutoStart", "0") && box.set("FTPRootDir", box.root().string()));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--port", std::to_string(port), auto_start, background},
                                                 std::vector<std::string>{}}) {
      Daemon daemon(box, args);
      ASSERT_TRUE(daemon.waitListening(port)) << daemon.err();
      StopWith(daemon, SIGTERM);
      EXPECT_EQ(box.get("GeneralSettings.AutoStart"), "1") << auto_start;
      EXPECT_EQ(box.get("GeneralSettings.RunInBackground"), "1") << background;
    }
  }
}

}  // namespace
}  // namespace talvek::test
