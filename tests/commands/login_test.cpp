// USER, PASS, REIN and the logon messages over a real socket: one dialogue
// per server configuration, every reply exact.
#include <gtest/gtest.h>

#include "support/server_fixture.h"

namespace talvek::ftp {
namespace {

const std::string k331 = "331 User name okay, need password", k230 = "230 User logged in, proceed",
                  k530 = "530 Not logged on", kInPub = "250 pub is current working directory";

struct Dialogue {
  const char* name;
  std::function<void(settings::Settings&)> adjust;
  std::vector<std::pair<std::string, std::string>> exchanges;  // command, reply
  const char* password = nullptr;  // as recorded for the operator, when checked
};

TEST(Login, DialoguesPerConfiguration) {
  test::TempDir root;
  root.write("pub/file", "x");
  root.write("bob/docs/readme", "r");
  root.write("bob-message.txt", "hello bob\n");
  root.write("welcome.txt", "a\nb\n");
  const std::vector<Dialogue> dialogues = {
      {"anonymous in any letter case, any password, with its rights", {},
       {{"USER Anonymous", k331}, {"PASS", k230}, {"MKD new", "550 You do not have write access on this server"},
        {"CWD pub", kInPub}}, ""},
      {"no anonymous; names and passwords are case-sensitive; home is the root",
       [](auto& s) { s.anonymous.allow = 0; },
       {{"USER anonymous", k530}, {"PASS x", k530}, {"USER bob", k530}, {"USER Bob", k331}, {"PASS Secret", k530},
        {"PASS secret", "230- hello bob\r\n" + k230}, {"PWD", "257 \"bob/\" is current working directory"},
        {"CWD /bob/docs", "250 docs is current working directory"}, {"MKD made", "227 made created"}}},
      {"an empty home is the FTP root; an empty password only matches empty", {},
       {{"USER amy", k331}, {"PASS x", k530}, {"PASS", k230}, {"PWD", "257 \"/\" is current working directory"},
        {"CWD pub", kInPub}}},
      {"without any root nobody logs in rather than getting the whole disk", [](auto& s) { s.ftpRootDir = ""; },
       {{"USER anonymous", k331}, {"PASS x", k530}, {"SIZE x", k530}}},
      {"logon message lines precede the 230",
       [&](auto& s) { s.sendLogonMsg = 1; s.msgFilePath = root.dir() + "welcome.txt"; },
       {{"PASS secret", k530}, {"USER anonymous", k331}, {"PASS me@", "230- a\r\n230- b\r\n" + k230}}, "me@"},
      {"a missing logon message file gives none",
       [&](auto& s) { s.sendLogonMsg = 1; s.msgFilePath = root.dir() + "missing.txt"; },
       {{"USER anonymous", k331}, {"PASS me@", k230}}},
      {"REIN logs out and returns to the FTP root", [](auto& s) { s.anonymous.rights = 7; },
       {{"USER anonymous", k331}, {"PASS x", k230}, {"CWD pub", kInPub}, {"REIN", "220 Service ready for new user"},
        {"PWD", "257 \"/\" is current working directory"}, {"PASS x", k530}}},
  };
  for (const auto& dialogue : dialogues) {
    SCOPED_TRACE(dialogue.name);
    auto settings = test::LoopbackSettings(root.dir());
    settings.anonymous.allow = 1;
    settings.anonymous.rights = 1;
    if (dialogue.adjust) dialogue.adjust(settings);
    test::ServerFixture fixture(settings);
    accounts::AccountRecord bob, amy;
    bob.name = "Bob";
    bob.password = "secret";
    bob.homeDir = root.dir() + "bob/";
    bob.permissions = accounts::kRead | accounts::kWrite;
    bob.customLogonMessage = true;
    bob.logonMessageFile = root.dir() + "bob-message.txt";
    amy.name = "amy";
    fixture.server().accounts().append(bob);
    fixture.server().accounts().append(amy);
    auto client = fixture.connect();
    for (const auto& [command, reply] : dialogue.exchanges) EXPECT_EQ(client->ask(command), reply) << command;
    auto record = fixture.server().registrySnapshot().front();
    if (dialogue.password) {
      EXPECT_EQ(record->texts.lock()->password, dialogue.password);
    }
  }
}

}  // namespace
}  // namespace talvek::ftp
