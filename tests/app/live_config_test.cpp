// What the operator changes with the command line while the daemon runs:
// SIGHUP (or "reload") puts it in force at once, a file that cannot be read
// keeps what was in force, and the exit never writes an old copy back.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

#include "accounts/account_store.h"
#include "app/daemon_harness.h"
#include "platform/system_info.h"

namespace talvek::test {
namespace {

using std::chrono::seconds;
using Args = std::vector<std::string>;

const std::string kReloaded = "Reloaded the settings, the accounts file and the IP filter list";

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A sandbox with a running daemon on a loopback port and account bob.
struct Running {
  Running() : port(box.prepareLoopback()) {
    EXPECT_TRUE(box.set("FTPRootDir", box.root().string()));
    EXPECT_EQ(box.run({"accounts", "add", "bob", "--password", "pw", "--perms", "r"}).status, 0);
    daemon = std::make_unique<Daemon>(box, Args{"--port", std::to_string(port)});
    EXPECT_TRUE(daemon->waitListening(port)) << daemon->out() << daemon->err();
  }
  void cli(const Args& args) const {
    RunResult result = box.run(args);
    ASSERT_EQ(result.status, 0) << result.err;
  }
  // Asks for a reload with SIGHUP (or the reload command) and waits for its event line.
  bool reload(bool command = false) const {
    size_t before = Count(daemon->out(), kReloaded);
    return (command ? box.run({"reload"}).status == 0 : daemon->signal(SIGHUP)) &&
           WaitUntil([&] { return Count(daemon->out(), kReloaded) > before; }, seconds(10));
  }
  std::optional<int> stop() const {
    daemon->signal(SIGTERM);
    return daemon->waitExit(seconds(5));
  }
  std::filesystem::path filtersFile() const { return box.programDir() / "Filters.txt"; }

  Sandbox box;
  uint16_t port;
  std::unique_ptr<Daemon> daemon;
};

std::optional<std::string> Greeting(uint16_t port, LineClient& client) {
  if (!client.connect(port)) return std::nullopt;
  return client.readReply();
}

std::optional<std::string> Login(uint16_t port, const std::string& user, const std::string& password) {
  LineClient client;
  if (Greeting(port, client) != kGreeting) return std::nullopt;
  client.ask("USER " + user);
  auto reply = client.ask("PASS " + password);
  client.command("QUIT");  // gone before the next client comes, so no limit is reached
  client.waitClosed();
  return reply;
}

struct Group {
  std::string name;
  std::vector<Args> changes;  // "config set" arguments, then other commands
  std::function<void(Running&, LineClient& connected)> inForce;
};

void PrintTo(const Group& group, std::ostream* out) { *out << group.name; }

class SettingsGroups : public ::testing::TestWithParam<Group> {};

TEST_P(SettingsGroups, CliChangeTakesEffectOnSighupAndSurvivesSigterm) {
  Running run;
  LineClient connected;  // a client from before the change
  ASSERT_EQ(Greeting(run.port, connected), kGreeting);
  ASSERT_EQ(connected.ask("USER anonymous"), "331 User name okay, need password");
  ASSERT_EQ(connected.ask("PASS x"), "230 User logged in, proceed");
  ASSERT_EQ(connected.ask("PORT 9,9,9,9,4,1"), "200 Command OK");  // names another host: still judged by its own
  for (const Args& change : GetParam().changes) run.cli(change);
  ASSERT_TRUE(run.reload()) << run.daemon->out();
  GetParam().inForce(run, connected);
  // Changed without a reload: the daemon never saw it, and its exit must not undo it.
  run.cli({"config", "set", "GeneralSettings.RecordFileLists", "0"});
  EXPECT_EQ(run.stop(), std::optional<int>(0)) << run.daemon->err();
  EXPECT_EQ(run.box.get("GeneralSettings.RecordFileLists"), "0");
  for (const Args& change : GetParam().changes) {
    if (change[0] == "config") {
      EXPECT_EQ(run.box.get(change[2]), change[3]) << change[2];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachGroup, SettingsGroups,
    ::testing::Values(
        Group{"LimitsTimeOutAndCaches",
              {{"config", "set", "GeneralSettings.MaxConnections", "1"},
               {"config", "set", "GeneralSettings.TimeoutMinutes", "7"},
               {"config", "set", "CacheSettings.DirCacheKB", "64"}},
              [](Running& run, LineClient& connected) {
                EXPECT_EQ(connected.ask("NOOP"), "200 Command OK");
                LineClient second;
                EXPECT_EQ(Greeting(run.port, second), "421 Maximum allowable connections exceeded");
              }},
        Group{"Filter",
              {{"filter", "enable"}, {"filter", "mode", "block"}, {"filter", "add", "127.0.0.1"}},
              [](Running& run, LineClient& connected) {
                EXPECT_TRUE(connected.waitClosed());  // now refused: dropped
                LineClient fresh;
                EXPECT_EQ(Greeting(run.port, fresh).value_or("").substr(0, 9), "421 Host ");
                EXPECT_EQ(run.box.get("GeneralSettings.FilterEnabled"), "1");
                EXPECT_EQ(run.box.get("GeneralSettings.BlockListed"), "1");
              }},
        Group{"LogAndLogonMessage",
              {{"config", "set", "EnableLog", "1"}, {"config", "set", "SendLogonMsg", "1"}},
              [](Running& run, LineClient&) {
                auto log = run.box.path() / "talvek.log", message = run.box.path() / "welcome.txt";
                WriteFile(message, "Hello from the operator\n");
                run.cli({"config", "set", "LogPath", log.string()});
                run.cli({"config", "set", "MsgFilePath", message.string()});
                ASSERT_TRUE(run.reload());
                EXPECT_EQ(Login(run.port, "bob", "pw"), "230- Hello from the operator\r\n230 User logged in, proceed");
                EXPECT_TRUE(WaitUntil([&] { return ReadFile(log).find(" New connection: 127.0.0.1") != std::string::npos; }));
              }},
        Group{"Port",
              {{"config", "set", "NetSettings.Port", std::to_string(FreeLoopbackPort())}},
              [](Running& run, LineClient& connected) {
                uint16_t moved = static_cast<uint16_t>(std::stoi(run.box.get("NetSettings.Port")));
                EXPECT_TRUE(run.daemon->waitListening(moved)) << run.daemon->out();
                LineClient fresh;
                EXPECT_EQ(Greeting(moved, fresh), kGreeting);
                EXPECT_EQ(connected.ask("NOOP"), "200 Command OK");  // only the listener restarts
              }}),
    [](const auto& info) { return info.param.name; });

// The reload command finds its daemon by the pid file beside the settings
// file; files the daemon cannot read again leave what was in force.
TEST(LiveConfig, ReloadCommandReachesItsDaemonWhichKeepsWhatItCannotReadAgain) {
  Running run;
  for (const Args& args : {Args{"filter", "add", "127.0.0.1"}, Args{"filter", "enable"}, Args{"filter", "mode", "allow"}})
    run.cli(args);
  ASSERT_TRUE(run.reload());
  auto pid_file = std::filesystem::path(run.box.settingsFile().string() + ".pid");
  EXPECT_EQ(ReadFile(pid_file), std::to_string(run.daemon->pid()) + "\n");
  for (const auto& file : {run.filtersFile(), run.box.accountsFile()}) {
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);  // reading a directory fails
  }
  ASSERT_TRUE(run.reload(true));
  std::string out = run.daemon->out();
  EXPECT_EQ(Count(out, "Cannot read " + run.filtersFile().string() + ": Is a directory; "), 1u) << out;
  EXPECT_EQ(Count(out, "Cannot read the accounts file " + run.box.accountsFile().string() + ": Is a directory; "), 1u);
  // An emptied allow-only list or accounts file would turn bob away.
  EXPECT_EQ(Login(run.port, "bob", "pw"), "230 User logged in, proceed");

  Sandbox other;  // no daemon runs on its settings file
  RunResult none = other.run({"reload"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err.rfind("talvek-ftpd: no daemon of " + other.settingsFile().string() + " is running", 0), 0u);
  WriteFile(other.settingsFile().string() + ".pid", std::to_string(::getpid()) + "\n");  // not a daemon
  EXPECT_EQ(other.run({"reload"}).status, 1);
  EXPECT_EQ(run.stop(), std::optional<int>(0));
  EXPECT_FALSE(std::filesystem::exists(pid_file));
}

TEST(LiveConfig, LoginsDuringReloadsNeverFail) {
  Running run;
  // A long file makes each reload take a while: a store emptied before it is
  // read again would turn logins away meanwhile.
  std::vector<accounts::AccountRecord> records(500);
  for (size_t i = 0; i < records.size(); ++i) records[i].name = "filler" + std::to_string(i);
  records.back().name = "bob";
  records.back().password = "pw";
  records.back().homeDir = run.box.root().string() + "/";
  std::string key = std::to_string(static_cast<int32_t>(platform::SystemVolumeSerial()));
  ASSERT_EQ(accounts::WriteAccountsFile(run.box.accountsFile(), records, key), 0);
  ASSERT_TRUE(run.reload());
  std::atomic<bool> done{false};
  std::atomic<int> logins{0}, failures{0};
  std::thread clients([&] {
    for (int i = 0; i < 100000 && !done; ++i) {
      if (Login(run.port, "bob", "pw") == "230 User logged in, proceed") ++logins;
      else ++failures;
    }
  });
  bool reloaded = true;
  for (int i = 0; i < 20 && reloaded; ++i) {
    run.cli({"accounts", "add", "user" + std::to_string(i), "--password", "x"});
    reloaded = run.reload();
  }
  done = true;
  clients.join();
  EXPECT_TRUE(reloaded);
  EXPECT_EQ(failures, 0);
  EXPECT_GT(logins, 0);
}

// Runs `count` commands at once, each its own process.
void RunConcurrently(const Sandbox& box, int count, const std::function<Args(int)>& args) {
  std::vector<std::thread> threads;
  std::vector<int> status(count, -1);
  for (int i = 0; i < count; ++i) threads.emplace_back([&, i] { status[i] = box.run(args(i), seconds(60)).status; });
  for (auto& thread : threads) thread.join();
  for (int i = 0; i < count; ++i) EXPECT_EQ(status[i], 0) << i;
}

TEST(ConcurrentEdits, EveryCliEditOfTheAccountsAndFilterFilesLands) {
  Sandbox box;
  ASSERT_TRUE(box.set("FTPRootDir", box.root().string()));
  RunConcurrently(box, 40, [](int i) { return Args{"accounts", "add", "user" + std::to_string(i)}; });
  RunConcurrently(box, 30, [](int i) { return Args{"filter", "add", "10.0.0." + std::to_string(i)}; });
  const std::vector<std::string> fields{"RecordFileLists", "MonitorNew", "TimeoutIdle", "LimitPerAddress", "FilterEnabled",
                                        "RunInBackground", "AutoStart", "RefuseNew", "BlockListed", "TimeoutMinutes"};
  RunConcurrently(box, 10, [&](int i) { return Args{"config", "set", "GeneralSettings." + fields[i], "1"}; });
  std::string accounts = box.run({"accounts", "list"}).out;
  std::string filters = box.run({"filter", "list"}).out;
  EXPECT_EQ(Count(accounts, "\n"), 40u) << accounts;
  EXPECT_EQ(Count(filters, "\n"), 31u) << filters;
  for (int i = 0; i < 40; ++i) EXPECT_EQ(Count(accounts, "user" + std::to_string(i) + " "), 1u) << i;
  for (int i = 0; i < 30; ++i) EXPECT_EQ(Count(filters, "10.0.0." + std::to_string(i) + "\n"), 1u) << i;
  std::string settings = box.run({"config", "list"}).out;
  for (const auto& field : fields) EXPECT_EQ(Count(settings, "GeneralSettings." + field + "=1\n"), 1u) << field;
}

TEST(ConcurrentEdits, KillDuringSavesNeverTearsAFileAndTheNextSaveLeavesNoLitter) {
  Sandbox box;
  ASSERT_TRUE(box.set("FTPRootDir", box.root().string()));
  ASSERT_EQ(box.run({"accounts", "add", "first"}).status, 0);
  auto conf = box.settingsFile().parent_path();
  // What an interrupted save leaves behind.
  WriteFile(conf / "accounts.lgn.tmp-Ab12Cd", "half");
  WriteFile(conf / "settings.reg.tmp-Ab12Cd", "half");
  for (int i = 0; i < 60; ++i) {
    Daemon edit(box, i % 2 ? Args{"accounts", "add", "user" + std::to_string(i)}
                           : Args{"config", "set", "GeneralSettings.TimeoutMinutes", std::to_string(i)});
    // Kill at a point that moves through the run, from start to finish.
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(150 * i);
    while (std::chrono::steady_clock::now() < until && edit.running()) {
    }
    edit.signal(SIGKILL);
    edit.waitExit(seconds(5));
    RunResult listed = box.run({"accounts", "list"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(Count(listed.out, "DAMAGED"), 0u);
    EXPECT_EQ(std::filesystem::file_size(conf / "accounts.lgn") % 924, 0u);
    ASSERT_NE(box.get("GeneralSettings.MaxConnections"), "<failed>");
  }
  ASSERT_EQ(box.run({"accounts", "add", "last"}).status, 0);
  ASSERT_TRUE(box.set("GeneralSettings.TimeoutMinutes", "5"));
  for (const auto& entry : std::filesystem::directory_iterator(conf))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

// A record that fails its checksum: flip one byte of its checksummed half.
void Damage(const std::filesystem::path& file, size_t record) {
  std::string bytes = ReadFile(file);
  bytes[record * 924 + 20] = static_cast<char>(bytes[record * 924 + 20] ^ 0x40);
  WriteFile(file, bytes);
}

std::string Line(const std::string& name, const std::string& perms) {
  return name + "  " + perms + "  home=ROOT  uploads=  logon-message=-\n";
}

TEST(DamagedRecords, AreKeptByteForByteByEveryEdit) {
  // Each edit, and "accounts list" after it without the damaged line.
  const std::vector<std::pair<Args, std::string>> edits{
      {{"accounts", "add", "carol", "--perms", "r"}, Line("bob", "rw-") + Line("carol", "r--")},
      {{"accounts", "modify", "bob", "--perms", "d"}, Line("bob", "--d")},
      {{"accounts", "remove", "bob"}, ""}};
  for (const auto& [edit, after] : edits) {
    SCOPED_TRACE(edit[1]);
    Sandbox box;
    ASSERT_TRUE(box.set("FTPRootDir", box.root().string()));
    for (const char* name : {"alice", "bob"}) ASSERT_EQ(box.run({"accounts", "add", name, "--perms", "rw"}).status, 0);
    auto file = box.accountsFile();
    Damage(file, 0);
    std::string damaged = ReadFile(file).substr(0, 924);
    RunResult edited = box.run(edit);
    ASSERT_EQ(edited.status, 0) << edited.err;
    EXPECT_EQ(ReadFile(file).substr(0, 924), damaged);
    std::string listed = box.run({"accounts", "list"}).out;
    size_t damaged_line = listed.find("  DAMAGED\n");
    ASSERT_NE(damaged_line, std::string::npos) << listed;
    std::string expected = after;
    for (size_t at; (at = expected.find("ROOT")) != std::string::npos;) expected.replace(at, 4, box.root().string() + "/");
    EXPECT_EQ(listed.substr(damaged_line + 10), expected);
  }
}

TEST(DamagedRecords, FileOfWhichNoRecordDecryptsIsNeverSavedOver) {
  Sandbox box;
  ASSERT_TRUE(box.set("FTPRootDir", box.root().string()));
  for (const char* name : {"alice", "bob"}) ASSERT_EQ(box.run({"accounts", "add", name}).status, 0);
  auto file = box.accountsFile();
  Damage(file, 0);
  Damage(file, 1);
  std::string before = ReadFile(file);
  for (const Args& edit : {Args{"accounts", "add", "carol"}, Args{"accounts", "remove", "bob"}}) {
    RunResult refused = box.run(edit);
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "No record of the accounts file " + file.string() +
                               " can be read with this machine's key (it was written on another machine, or the key "
                               "changed), so it was left as it is. To start a new accounts file, name one with the "
                               "LogonFile setting.\n");
    EXPECT_EQ(ReadFile(file), before);
  }
  ASSERT_TRUE(box.set("LogonFile", (box.path() / "new.lgn").string()));
  EXPECT_EQ(box.run({"accounts", "add", "carol"}).status, 0);
  EXPECT_EQ(ReadFile(file), before);
}

}  // namespace
}  // namespace talvek::test
