// A hostile client against a real server over loopback: every spelling of a
// way out of the root, through every command that takes a path, in every
// login state, checked on disk; links swapped mid-transfer; STOU races;
// uploads that must never truncate; the root that must never go away.

#include <filesystem>
#include <map>

#include "transfer/data_commands.h"
#include "transfer_fixture.h"

namespace talvek::test {
namespace {

namespace fs = std::filesystem;

const char kSecret[] = "SECRET";
const char k250[] = "250 Requested file action okay, completed.";

// Everything below `top`: path -> type and content (link targets for links).
std::map<std::string, std::string> Snapshot(const fs::path& top) {
  std::map<std::string, std::string> all;
  for (const auto& entry : fs::recursive_directory_iterator(top))
    all[entry.path()] = entry.is_symlink()     ? "link " + fs::read_symlink(entry.path()).string()
                        : entry.is_directory() ? "dir"
                                               : ReadFile(entry.path());
  return all;
}

enum class State { BeforeLogin, LoggedIn, AfterFailedPass, AfterRein, Anonymous };
const char* const kStateNames[] = {"BeforeLogin", "LoggedIn", "AfterFailedPass", "AfterRein", "Anonymous"};

class HostileClientTest : public TransferTest, public ::testing::WithParamInterface<State> {
 protected:
  HostileClientTest()
      : TransferTest([this](settings::Settings& s) {
          s.anonymous.allow = 1;
          s.anonymous.rights = 7;
          s.anonymous.setRootText(root_.dir() + "home/");
          s.uploadsDir = root_.dir() + "home/up/";
        }) {
    root_.write("home/in.txt", "inside");
    root_.write("home/sub/deep.txt", "deep");
    root_.write("home/up/.keep", "");
    root_.write("bob/bobs.txt", std::string(kSecret) + " of bob");
    outside_.write("topsecret.txt", std::string(4321, 'S').replace(0, 6, kSecret));
    std::string out = outside_.dir();
    for (auto [name, target] : {std::pair{"out-dir", out}, {"out-file", out + "topsecret.txt"},
                                {"dangling", out + "planted.txt"}, {"rel-dangling", "../../../planted-rel.txt"},
                                {"in-link", std::string("sub")}, {"in-dangling", std::string("sub/fresh.txt")}})
      fs::create_symlink(target, root_.path() / "home" / name);
    accounts::AccountRecord alice;
    alice.name = "alice";
    alice.password = "good";
    alice.homeDir = root_.dir() + "home/";
    alice.permissions = accounts::kRead | accounts::kWrite | accounts::kDelete;
    fixture_.server().accounts().append(alice);
  }

  // A client in `state`; the root it is held to.
  std::unique_ptr<LineClient> clientIn(State state) {
    auto client = fixture_.connect();
    auto login = [&](const std::string& user, const std::string& password, const std::string& reply) {
      EXPECT_EQ(client->ask("USER " + user), "331 User name okay, need password");
      EXPECT_EQ(client->ask("PASS " + password), reply);
    };
    if (state == State::LoggedIn || state == State::AfterFailedPass || state == State::AfterRein)
      login("alice", "good", "230 User logged in, proceed");
    if (state == State::AfterFailedPass) login("alice", "wrong", "530 Not logged on");
    EXPECT_TRUE(state != State::AfterRein || client->ask("REIN") == "220 Service ready for new user");
    if (state == State::Anonymous) login("anonymous", "me@", "230 User logged in, proceed");
    return client;
  }
  std::string rootOf(State state) const {
    return state == State::BeforeLogin || state == State::AfterRein ? root_.dir() : root_.dir() + "home/";
  }

  TempDir outside_;
};

// Every spelling of a way out, as the client sends it.
std::vector<std::string> Escapes(const std::string& ftp_root, const std::string& outside) {
  return {"..", "../bob/bobs.txt", "..\\bob\\bobs.txt", "/../bob", "sub/../../bob/bobs.txt", "sub//..//..//bob",
          "./../bob", ftp_root + "bob/bobs.txt", outside + "topsecret.txt", outside, "\\..\\..", "out-dir",
          "out-dir/topsecret.txt", "out-file", "dangling", "rel-dangling", "out-dir/new",
          std::string("in.txt\0/../../bob", 17), ".", "/", "./", "/."};
}

TEST_P(HostileClientTest, NoPathLeavesTheRootInAnyLoginState) {
  State state = GetParam();
  auto before = Snapshot(root_.path());
  auto outside_before = Snapshot(outside_.path());
  auto secret_time = fs::last_write_time(outside_.path() / "topsecret.txt");
  auto client = clientIn(state);
  auto record = fixture_.server().registrySnapshot().front();
  std::string root = rootOf(state);
  for (const auto& path : Escapes(root_.dir(), outside_.dir())) {
    for (const char* command : {"CWD", "MKD", "XMKD", "RMD", "XRMD", "DELE", "RNFR"}) {
      client->ask(std::string(command) + " " + path);
      if (std::string(command) == "RNFR") client->ask("RNTO " + path + "-moved");
      client->ask("RNFR in.txt");
      client->ask("RNTO " + path);
      client->ask("CDUP");
      EXPECT_TRUE(record->texts.lock()->current_directory.starts_with(root)) << command << " " << path;
    }
    for (const char* command : {"SIZE ", "MDTM ", "MLST ", "MFMT 20000101000000 "}) {
      std::string reply = client->ask(command + path).value_or("<none>");
      EXPECT_TRUE(reply.starts_with("5") || reply.find("4321") == std::string::npos)
          << command << path << ": " << reply;
    }
    for (const char* command : {"RETR", "LIST", "NLST", "STOR", "APPE", "MLSD"}) {
      Exchange got = exchange(*client, std::string(command) + " " + path, "planted by the client");
      EXPECT_EQ(got.data.find(kSecret), std::string::npos) << command << " " << path;
      EXPECT_EQ(got.data.find("4321"), std::string::npos) << command << " " << path;
      EXPECT_EQ(got.data.find("bobs"), std::string::npos) << command << " " << path;
    }
    client->ask("CWD in-link");
  }
  client->ask("DELE in.txt");  // rights a failed PASS or REIN ended must stay ended
  Exchange stou = exchange(*client, "STOU", "unique");
  // Nothing outside the session's root changed; inside, only what it made.
  EXPECT_EQ(Snapshot(outside_.path()), outside_before);
  EXPECT_EQ(fs::last_write_time(outside_.path() / "topsecret.txt"), secret_time);
  auto after = Snapshot(root_.path());
  for (const auto& [path, content] : before)
    if (!path.starts_with(root) || path + "/" == root) {
      EXPECT_EQ(after.count(path) ? after[path] : "<gone>", content) << path;
    }
  for (const auto& [path, content] : after)
    EXPECT_TRUE(before.count(path) || path.starts_with(root)) << "made outside the root: " << path;
  EXPECT_TRUE(fs::is_directory(root));
  bool rights = state == State::LoggedIn || state == State::Anonymous;
  EXPECT_EQ(stou.replies.find("250 ") != std::string::npos, rights) << stou.replies;
  if (!rights) {
    EXPECT_EQ(after, before);
  }
}

INSTANTIATE_TEST_SUITE_P(LoginStates, HostileClientTest,
                         ::testing::Values(State::BeforeLogin, State::LoggedIn, State::AfterFailedPass,
                                           State::AfterRein, State::Anonymous),
                         [](const auto& info) { return std::string(kStateNames[static_cast<int>(info.param)]); });

class HostileCases : public HostileClientTest {};

TEST_F(HostileCases, TheUsersRootIsNeverRemovedOrRenamed) {
  auto client = clientIn(State::LoggedIn);
  for (const char* spelling : {"RMD .", "RMD ./", "XRMD .", "RMD /.", "RMD .//", "RMD .\\", "RMD /", "RMD",
                               "XRMD ./."})
    EXPECT_EQ(client->ask(spelling), "450 Delete operation failed") << spelling;
  for (const char* spelling : {"RNFR .", "RNFR /", "RNFR ./", "RNFR", "RNFR sub/.."})
    EXPECT_EQ(client->ask(spelling), "450 Requested file action not executed") << spelling;
  EXPECT_TRUE(fs::exists(root_.path() / "home" / "in.txt"));
  EXPECT_EQ(client->ask("PWD"), "257 \"home/\" is current working directory");
}

TEST_F(HostileCases, ReinEndsThePendingRename) {
  auto client = clientIn(State::LoggedIn);
  EXPECT_EQ(client->ask("RNFR in.txt"), "350 Requested file action pending further information");
  EXPECT_EQ(client->ask("REIN"), "220 Service ready for new user");
  EXPECT_EQ(client->ask("RNTO moved.txt"), "503 Bad sequence of commands");
  EXPECT_EQ(root_.read("home/in.txt"), "inside");
}

TEST_F(HostileCases, LinksInsideWorkAndLinksLeadingOutAreListedAsThemselves) {
  auto client = clientIn(State::LoggedIn);
  std::string listing = "\r\n" + exchange(*client, "LIST").data;
  auto line_of = [&](const std::string& name) {
    size_t end = listing.find(" " + name + "\r\n");
    return end == std::string::npos ? "<missing " + name + ">" : listing.substr(listing.rfind("\r\n", end) + 2, 10);
  };
  for (const char* name : {"out-dir", "out-file", "dangling"}) EXPECT_EQ(line_of(name), "----------") << listing;
  EXPECT_EQ(line_of("in-link"), "d---------") << listing;
  EXPECT_EQ(listing.find(" 4321 "), std::string::npos) << listing;
  EXPECT_NE(exchange(*client, "NLST in-link/*").data.find("deep.txt\r\n"), std::string::npos);
  // Links that stay inside keep working, relative or absolute.
  fs::create_symlink(root_.path() / "home" / "sub", root_.path() / "home" / "absolute-in");
  EXPECT_EQ(exchange(*client, "RETR in-link/deep.txt").data, "deep");
  EXPECT_EQ(exchange(*client, "RETR absolute-in/deep.txt").data, "deep");
  EXPECT_EQ(exchange(*client, "STOR in-dangling", "made").replies, std::string("1xx\n") + k250);
  EXPECT_EQ(root_.read("home/sub/fresh.txt"), "made");
  EXPECT_EQ(client->ask("CWD absolute-in"), "250 absolute-in is current working directory");
}

TEST_F(HostileCases, ALinkSwappedOutsideDuringAnUploadLeavesTheFileInside) {
  auto client = clientIn(State::LoggedIn);
  std::string pasv = client->ask("PASV").value_or("");
  DataPeer data = ConnectData(PassivePort(pasv));
  ASSERT_TRUE(WaitUntil([&] { return askRecord([](auto& record) { return record.control.data_connected; }); }));
  EXPECT_EQ(client->ask("STOR in-link/up.txt"), "125 Data connection already open; transfer starting");
  EXPECT_TRUE(data.sendAll("first "));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(root_.path() / "home/sub/up.txt"); }));
  fs::create_symlink(outside_.path(), root_.path() / "home" / "swap");
  fs::rename(root_.path() / "home" / "swap", root_.path() / "home" / "in-link");
  EXPECT_TRUE(data.sendAll("second"));
  data.close();
  EXPECT_EQ(client->readReply(), k250);
  EXPECT_EQ(root_.read("home/sub/up.txt"), "first second");
  EXPECT_EQ(exchange(*client, "RETR in-link/topsecret.txt").data, "");
  EXPECT_EQ(exchange(*client, "STOR in-link/up.txt", "x").replies,
            "1xx\n550 Requested action not taken. File unavailable: Access denied");
  EXPECT_EQ(client->ask("CWD in-link"), "501 Directory in-link does not exist");
  EXPECT_FALSE(fs::exists(outside_.path() / "up.txt"));
}

TEST_F(HostileCases, StouNeverTakesAnExistingNameAndNamesWhatItWrote) {
  // Whatever second the commands run in, the plain name is already taken.
  std::time_t now = std::time(nullptr);
  for (std::time_t when = now - 1; when <= now + 10; ++when)
    root_.write("home/" + transfer::UniqueNameFor(when), "old");
  auto first = clientIn(State::LoggedIn);
  auto second = clientIn(State::LoggedIn);
  std::string a = exchange(*first, "STOU", "from first").replies;
  std::string b = exchange(*second, "STOU", "from second").replies;
  std::string prefix = std::string("1xx\n") + k250 + " ";
  ASSERT_TRUE(a.starts_with(prefix) && b.starts_with(prefix)) << a << "|" << b;
  std::string name_a = a.substr(prefix.size()), name_b = b.substr(prefix.size());
  EXPECT_NE(name_a, name_b);
  EXPECT_TRUE(name_a.ends_with("_1") || name_a.ends_with("_2")) << name_a;
  EXPECT_EQ(root_.read("home/" + name_a), "from first");
  EXPECT_EQ(root_.read("home/" + name_b), "from second");
  EXPECT_EQ(root_.read("home/" + transfer::UniqueNameFor(now)), "old");
}

TEST_F(HostileCases, WithoutTheDeleteRightUploadsNeverTruncate) {
  auto client = loggedIn(accounts::kRead | accounts::kWrite);
  EXPECT_EQ(client->ask("CWD home"), "250 home is current working directory");
  // Resuming changes a file too.
  for (const char* rest : {"REST 0", "REST 2"})
    for (const char* command : {"STOR in.txt", "STOR in-dangling", "STOR sub/deep.txt", "STOR in-link/deep.txt"}) {
      client->ask(rest);
      EXPECT_EQ(exchange(*client, command, "overwritten").replies,
                "1xx\n553 Requested action not taken. File name not allowed")
          << rest << command;
    }
  EXPECT_EQ(root_.read("home/in.txt"), "inside");
  EXPECT_EQ(root_.read("home/sub/deep.txt"), "deep");
  EXPECT_FALSE(fs::exists(root_.path() / "home/sub/fresh.txt"));
}

}  // namespace
}  // namespace talvek::test
