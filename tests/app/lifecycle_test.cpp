// Starting and stopping the daemon: what both executables answer on their own
// command line, the start options that refuse or persist, SIGTERM/SIGINT with
// clients connected, restart on the same settings, where an installed copy
// finds its data and keeps its writable files, what a first start imports,
// and readiness and event lines under a service manager.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <regex>

#include "app/daemon_harness.h"

namespace talvek::test {
namespace {

using std::chrono::seconds;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
  // Empty LogonFile: the accounts file beside the settings file.
  EXPECT_EQ(box.get("LogonFile"), box.accountsFile().string());

  // Restart on the same settings.
  Daemon again(box, {});
  ASSERT_TRUE(again.waitListening(port)) << again.err();
  LineClient client;
  EXPECT_TRUE(client.connect(port) && client.readReply() == kGreeting);
  StopWith(again, GetParam());
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, DaemonStop, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "Sigterm" : "Sigint"; });

TEST(DaemonSwitches, AutoStartAndBackgroundSwitchesPersistOverOtherChangesOnDisk) {
  for (const auto& [auto_start, background] : std::vector<std::pair<std::string, std::string>>{
           {"/s", "/b"}, {"-s", "-b"}, {"--auto-start", "--background"}}) {
    Sandbox box;
    uint16_t port = box.prepareLoopback();
    ASSERT_TRUE(box.set("GeneralSettings.AutoStart", "0") && box.set("FTPRootDir", box.root().string()));
    Daemon daemon(box, {"--port", std::to_string(port), auto_start, background});
    ASSERT_TRUE(daemon.waitListening(port)) << daemon.err();
    // Another field of the same block changed meanwhile: the exit writes only its own.
    ASSERT_TRUE(box.set("GeneralSettings.TimeoutMinutes", "9"));
    StopWith(daemon, SIGTERM);
    EXPECT_EQ(box.get("GeneralSettings.AutoStart"), "1") << auto_start;
    EXPECT_EQ(box.get("GeneralSettings.RunInBackground"), "1") << background;
    EXPECT_EQ(box.get("GeneralSettings.TimeoutMinutes"), "9");
  }
}

// Runs `program` with `args` (shell words) in a clean environment under `dir`.
RunResult RunProgram(const std::filesystem::path& dir, const std::string& program, const std::string& args) {
  std::string command = "cd '" + dir.string() + "' && env -u TALVEK_FTP_SETTINGS -u TALVEK_FTP_HOME HOME=home " +
                        "XDG_CONFIG_HOME=home/.config QT_QPA_PLATFORM=offscreen timeout 10 '" + program + "' " +
                        args + " >out 2>err";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(dir / "out"), ReadFile(dir / "err")};
}

TEST(ProgramOptions, HelpVersionAndUnknownOptionsOfBothExecutables) {
  struct Program { std::string path, name; };
  std::vector<Program> programs{{TALVEK_FTPD_PATH, "talvek-ftpd"}};
#ifdef TALVEK_CONSOLE_PATH
  programs.push_back({TALVEK_CONSOLE_PATH, "talvek-ftp"});
#endif
  // "NAME" stands for the program's name, "usage" for the start of its usage text.
  struct Case { std::string args; int status; std::string out_prefix, err_prefix; };
  const std::vector<Case> cases{
      {"--help", 0, "usage", ""},
      {"-h --port 21", 0, "usage", ""},
      {"--version", 0, "NAME " TALVEK_VERSION "\n", ""},
      {"--bogus", 2, "", "NAME: unknown argument '--bogus'\nusage"},
      {"--port 0 --help", 2, "", "NAME: --port needs a number from 1 to 65535, not '0'\nusage"},
  };
  TempDir dir;
  for (const auto& program : programs) {
    for (const auto& c : cases) {
      auto expand = [&](std::string text) {
        if (auto at = text.find("NAME"); at != std::string::npos) text.replace(at, 4, program.name);
        if (auto at = text.find("usage"); at != std::string::npos) text.replace(at, 5, "usage: " + program.name + " ");
        return text;
      };
      RunResult run = RunProgram(dir.path(), program.path, c.args);
      SCOPED_TRACE(program.name + " " + c.args);
      EXPECT_EQ(run.status, c.status);
      EXPECT_EQ(run.out.substr(0, expand(c.out_prefix).size()), expand(c.out_prefix));
      EXPECT_EQ(run.err.substr(0, expand(c.err_prefix).size()), expand(c.err_prefix));
      EXPECT_EQ(run.out.empty(), c.out_prefix.empty()) << run.out;
      EXPECT_EQ(run.err.empty(), c.err_prefix.empty()) << run.err;
    }
  }
}

// Installed under a prefix: bin/talvek-ftpd imports share/talvek-ftp/defaults.reg
// into a never-started settings file once, and writes Filters.txt beside its
// settings, not into the prefix.
TEST(ProgramOptions, InstalledCopyImportsTheSharedDefaultsOnceAndWritesBesideTheSettings) {
  TempDir prefix;
  std::filesystem::create_directories(prefix.path() / "bin");
  std::filesystem::create_directories(prefix.path() / "share" / "talvek-ftp");
  std::filesystem::copy_file(TALVEK_FTPD_PATH, prefix.path() / "bin" / "talvek-ftpd");
  std::filesystem::copy_file(std::filesystem::path(TALVEK_SOURCE_DIR) / "defaults.reg",
                             prefix.path() / "share" / "talvek-ftp" / "defaults.reg");
  std::string daemon = (prefix.path() / "bin" / "talvek-ftpd").string();
  const std::string settings = "--settings conf/settings.reg ";

  RunResult listed = RunProgram(prefix.path(), daemon, settings + "config list");
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.err, "");
  EXPECT_EQ(listed.out,
            "FTPRootDir=\nUploadsDir=\nLogPath=\nMsgFilePath=\nLogonFile=\nDefaultIP=\nRedirUploads=0\n"
            "SendLogonMsg=0\nEnableLog=0\nGraphBkColor=16777215\nGraphForeColor=0\nNewInstall=0\n"
            "LoginFailDelaySeconds=0\nLoginBanFailures=0\nLoginBanWindowMinutes=10\nLoginBanMinutes=30\n"
            "ListenIPv6=1\nPassivePortMin=0\nPassivePortMax=0\nPassiveAddress=\n"
            "TlsMode=1\nTlsCertificateFile=\nTlsKeyFile=\nTlsRequireSessionReuse=0\n"
            "GeneralSettings.RecordFileLists=1\nGeneralSettings.MonitorNew=0\nGeneralSettings.TimeoutIdle=1\n"
            "GeneralSettings.LimitPerAddress=1\nGeneralSettings.FilterEnabled=0\nGeneralSettings.RunInBackground=0\n"
            "GeneralSettings.AutoStart=1\nGeneralSettings.TimeoutMinutes=15\nGeneralSettings.MaxConnections=50\n"
            "GeneralSettings.ConnectionsPerAddress=10\nGeneralSettings.RefuseNew=1\nGeneralSettings.BlockListed=1\n"
            "NetSettings.Address=\nNetSettings.Port=2121\nNetSettings.AlwaysUsePort=1\nNetSettings.UseAsDefault=0\n"
            "NetSettings.DisablePASV=0\nCacheSettings.DirCacheKB=500\nCacheSettings.FileCacheKB=4000\n"
            "CacheSettings.DirRefreshMinutes=60\nCacheSettings.FileRefreshMinutes=240\n"
            "CacheSettings.OverflowPercent=25\nCacheSettings.CacheDirs=1\nCacheSettings.CacheFiles=1\n"
            "CacheSettings.AutoRefreshDirs=0\nCacheSettings.AutoRefreshFiles=0\nAnonymous.Allow=1\n"
            "Anonymous.Rights=1\nAnonymous.Root=\n");
  EXPECT_EQ(RunProgram(prefix.path(), daemon, settings + "filter add '10.1.*'").status, 0);
  EXPECT_EQ(ReadFile(prefix.path() / "conf" / "Filters.txt"), "10.1.[0-9]+\r\n");
  EXPECT_FALSE(std::filesystem::exists(prefix.path() / "bin" / "Filters.txt"));
  EXPECT_FALSE(std::filesystem::exists(prefix.path() / "share" / "talvek-ftp" / "Filters.txt"));
  // The import was saved; without the shared data a new file imports nothing.
  std::filesystem::remove_all(prefix.path() / "share");
  EXPECT_EQ(RunProgram(prefix.path(), daemon, settings + "config get NetSettings.Port").out, "2121\n");
  EXPECT_EQ(RunProgram(prefix.path(), daemon, "--settings other/settings.reg config get NetSettings.Port").out,
            "0\n");
}

// The datagram a service manager receives on $NOTIFY_SOCKET, or "" after 5 s.
std::string NotifyDatagram(int fd) {
  pollfd ready{fd, POLLIN, 0};
  char buffer[256];
  ssize_t got = ::poll(&ready, 1, 5000) == 1 ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
}

// Under a service manager: readiness is reported once the port listens. A
// journal stamps every line itself: there the monitored exchange carries no
// time stamp of its own and no blank separator lines.
TEST(ProgramOptions, ServiceManagerHearsReadinessAndLogFormatDecidesTimeStamps) {
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d : )";
  for (const auto& [format, prefix] : std::vector<std::pair<std::string, std::string>>{
           {"plain", stamp}, {"journal", ""}, {"auto", stamp}}) {
    SCOPED_TRACE(format);
    Sandbox box;
    uint16_t port = box.prepareLoopback();
    ASSERT_TRUE(box.set("GeneralSettings.MonitorNew", "1"));
    sockaddr_un address{AF_UNIX, {}};
    std::string socket_path = (box.path() / "notify").string();
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(manager, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::setenv("NOTIFY_SOCKET", socket_path.c_str(), 1);  // the daemon inherits the test's environment
    Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port), "--log-format", format});
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_EQ(NotifyDatagram(manager), "READY=1\nSTATUS=Listening on port " + std::to_string(port));
    ASSERT_TRUE(daemon.waitListening(port)) << daemon.err();
    LineClient client;
    ASSERT_TRUE(client.connect(port) && client.readReply() == kGreeting);
    ASSERT_EQ(client.ask("NOOP"), "200 Command OK");
    ASSERT_TRUE(daemon.waitForOutput("Responded 200 Command OK\n"));
    EXPECT_TRUE(std::regex_search(daemon.out(), std::regex("\n" + prefix + "Received NOOP from [^\n]+\n" +
                                                           prefix + "Responded 200 Command OK\n")))
        << daemon.out();
    EXPECT_EQ(daemon.out().find("\n\n") == std::string::npos, format == "journal") << daemon.out();
    StopWith(daemon, SIGTERM);
    EXPECT_EQ(NotifyDatagram(manager), "STOPPING=1");
    ::close(manager);
  }
}

}  // namespace
// TLS at start: a self-signed pair made once beside the settings (the key
// readable by its owner alone) whose fingerprint every start prints; a bad
// certificate turns TLS off under TlsMode 1 and stops the start under 2.
TEST(DaemonStart, TlsCertificateIsMadeOnceAndABadOneDecidedByTheMode) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  const std::vector<std::string> args = {"--root", box.root().string(), "--port", std::to_string(port)};
  const std::string line = "TLS certificate SHA-256 fingerprint ";
  auto directory = box.settingsFile().parent_path();
  std::vector<std::string> fingerprints;
  for (int start = 0; start < 2; ++start) {
    Daemon daemon(box, args);
    ASSERT_TRUE(daemon.waitForOutput("FTP Server ready")) << daemon.out();
    std::string out = daemon.out();
    EXPECT_EQ(Contains(out, "Generated a self-signed TLS certificate " + (directory / "tls-certificate.pem").string() +
                                " and key " + (directory / "tls-key.pem").string()),
              start == 0);
    ASSERT_TRUE(Contains(out, line)) << out;
    fingerprints.push_back(out.substr(out.find(line) + line.size(), 95));
    StopWith(daemon, SIGTERM);
  }
  EXPECT_EQ(fingerprints[0], fingerprints[1]);
  auto openssl = RunCommand("openssl x509 -noout -fingerprint -sha256 -in " + (directory / "tls-certificate.pem").string());
  EXPECT_EQ(openssl.output, "sha256 Fingerprint=" + fingerprints[0] + "\n");
  EXPECT_EQ(std::filesystem::status(directory / "tls-key.pem").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  std::string bad = (box.path() / "bad.pem").string();
  WriteFile(bad, "not a certificate");
  ASSERT_TRUE(box.set("TlsCertificateFile", bad) && box.set("TlsKeyFile", bad) && box.set("TlsMode", "2"));
  RunResult refused = box.run(args);
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Contains(refused.out, "TLS is required (TlsMode 2) but unavailable: cannot read the certificate " + bad))
      << refused.out;
  ASSERT_TRUE(box.set("TlsMode", "1"));
  Daemon daemon(box, args);
  ASSERT_TRUE(daemon.waitForOutput("FTP Server ready")) << daemon.out();
  EXPECT_TRUE(Contains(daemon.out(), "TLS is off: cannot read the certificate " + bad)) << daemon.out();
  LineClient client;
  ASSERT_TRUE(client.connect(port) && client.readReply() == kGreeting);
  EXPECT_EQ(client.ask("AUTH TLS"), "502 Command not implemented");
  StopWith(daemon, SIGTERM);
}

}  // namespace talvek::test
