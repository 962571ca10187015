// The dispatcher and the status commands, driven over a real socket.
#include <gtest/gtest.h>

#include <random>

#include "support/server_fixture.h"

namespace talvek::ftp {
namespace {

using test::ServerFixture;

class ControlConnectionTest : public ::testing::Test {
 protected:
  test::TempDir root_;
  ServerFixture fixture_{test::LoopbackSettings(root_.dir())};
};

TEST_F(ControlConnectionTest, GreetsAndAnswersStatusCommandsBeforeLogin) {
  root_.write("a.txt", "a");
  auto client = fixture_.connect();
  const std::string k200 = "200 Command OK", k504 = "504 Command not implemented for that parameter",
                    k202 = "202 Command not implemented, superfluous on this server", k530 = "530 Not logged on";
  const std::string feat = "211-Extensions supported:\r\n UTF8\r\n SIZE\r\n MDTM\r\n MFMT\r\n MLST ";
  for (const auto& [command, reply] : std::initializer_list<std::pair<const char*, std::string>>{
           {"noop", k200}, {"SYST", "215 UNIX"}, {"TYPE A N", k200}, {"TYPE I", k200}, {"TYPE L8", k200},
           {"TYPE i", k504}, {"TYPE E", k504}, {"MODE s", k504}, {"MODE S", k200}, {"STRU F", k200},
           {"STRU R", k504}, {"STAT", k202}, {"SITE anything at all", k202}, {"ALLO 100", k202}, {"MACB", k202},
           {"ACCT x", k202}, {"RETRX", "500 Syntax error, command unrecognized"},
           {"HELP retr", "214 RETR Download a file from the server. Syntax: RETR <filename>"},
           {"HELP", "214 " + std::string(HelpTable::generalHelp())},
           {"HELP size", "214 SIZE Transmit the size of a file in bytes. Syntax SIZE <filename>"},
           // The extensions a client asks about before it logs in.
           {"FEAT", feat + "type*;size*;modify*;perm*;unique*;\r\n REST STREAM\r\n211 End"},
           {"OPTS utf8 on", k200}, {"OPTS UTF8 OFF", k504},
           {"OPTS MODE Z", "501 Syntax error in parameters or arguments"},
           {"OPTS MLST Size;TYPE;bogus;", "200 MLST OPTS type;size;"}, {"OPTS MLST", "200 MLST OPTS"},
           {"OPTS MLST modify;", "200 MLST OPTS modify;"},
           {"FEAT", feat + "type;size;modify*;perm;unique;\r\n REST STREAM\r\n211 End"},
           {"SIZE a.txt", k530}, {"MDTM a.txt", k530}, {"MFMT 20000101000000 a.txt", k530}, {"MLST a.txt", k530},
           {"MLSD", k530}})
    EXPECT_EQ(client->ask(command), reply) << command;
}

TEST_F(ControlConnectionTest, XstsCountsConnectionsAndEndsWithAnEmptyLine) {
  auto first = fixture_.connect();
  auto second = fixture_.connect();
  ASSERT_TRUE(first->command("XSTS"));
  EXPECT_EQ(first->readReply(), "214- Server status:\r\n214- Users connected: 2\r\n214 Files transferred: 0");
  EXPECT_EQ(first->readLine(), "");
}

TEST_F(ControlConnectionTest, BlankLinesGetNoReplyAndLeadingBytesAreSkipped) {
  auto client = fixture_.connect();
  ASSERT_TRUE(client->send("   \r\n\r\n  NOOP\r\n"));
  EXPECT_EQ(client->readReply(), "200 Command OK");
  ASSERT_TRUE(client->send("\xff\xf4" "SYST\r\n"));
  EXPECT_EQ(client->readReply(), "215 UNIX");
  EXPECT_TRUE(client->silentFor(std::chrono::milliseconds(100)));
}

TEST_F(ControlConnectionTest, PipelinedCommandsAreAnsweredInOrder) {
  auto client = fixture_.connect();
  ASSERT_TRUE(client->send("NOOP\r\nSYST\r\nNOOP\r\n"));
  EXPECT_EQ(client->readReply(), "200 Command OK");
  EXPECT_EQ(client->readReply(), "215 UNIX");
  EXPECT_EQ(client->readReply(), "200 Command OK");
}

TEST_F(ControlConnectionTest, CommandSplitAcrossPacketsIsCompleted) {
  auto client = fixture_.connect();
  ASSERT_TRUE(client->send("NOOP\r\nSY"));
  EXPECT_EQ(client->readReply(), "200 Command OK");
  ASSERT_TRUE(client->send("ST\r\n"));
  EXPECT_EQ(client->readReply(), "215 UNIX");
}

TEST_F(ControlConnectionTest, LoneLineFeedIsNotALineEnd) {
  auto client = fixture_.connect();
  ASSERT_TRUE(client->send("NOOP\n"));
  EXPECT_TRUE(client->silentFor(std::chrono::milliseconds(100)));
}

TEST_F(ControlConnectionTest, OverlongLineGets500AndTheConnectionLivesOn) {
  auto client = fixture_.connect();
  ASSERT_TRUE(client->send(std::string(6000, 'A') + "\r\n"));
  EXPECT_EQ(client->readReply(), "500 Syntax error, command unrecognized");
  EXPECT_EQ(client->ask("NOOP"), "200 Command OK");
}

TEST_F(ControlConnectionTest, QuitRepliesClosesAndRemovesAtOnce) {
  auto client = fixture_.connect();
  ASSERT_TRUE(fixture_.waitForRegistered(1));
  EXPECT_EQ(client->ask("QUIT"), "221 Service closing control connection. Logged out if appropriate.");
  EXPECT_TRUE(client->waitClosed());
  EXPECT_TRUE(fixture_.waitForRegistered(0));
  EXPECT_TRUE(test::WaitUntil([&] { return fixture_.server().connectionCount() == 0; }));
}

TEST_F(ControlConnectionTest, PeerThatClosesIsRemovedAndLogged) {
  auto client = fixture_.connect();
  ASSERT_TRUE(fixture_.waitForRegistered(1));
  client->close();
  EXPECT_TRUE(fixture_.waitForRegistered(0));
  EXPECT_TRUE(test::WaitUntil(
      [&] { return fixture_.view().monitor().find("Connection to 127.0.0.1 closed.\r\n\r\n") != std::string::npos; }));
  EXPECT_TRUE(test::WaitUntil([&] { return fixture_.server().connectionCount() == 0; }));
}

TEST_F(ControlConnectionTest, RandomGarbageNeverStopsNoop) {
  auto client = fixture_.connect();
  std::mt19937 random(12345);
  std::string flood;
  for (int line = 0; line < 3000; ++line) {
    size_t length = random() % (line % 500 == 0 ? 9000 : 80);
    for (size_t i = 0; i < length; ++i) flood += static_cast<char>(random() % 256);
    flood += (random() % 4 == 0) ? "\n" : "\r\n";
  }
  // QUIT must not be hidden in the garbage: it would end the test early.
  for (size_t at = flood.find("QUIT"); at != std::string::npos; at = flood.find("QUIT")) flood[at] = 'X';
  for (size_t at = flood.find("quit"); at != std::string::npos; at = flood.find("quit")) flood[at] = 'X';
  ASSERT_TRUE(client->send(flood + "\r\n"));
  ASSERT_TRUE(client->send("NOOP\r\n"));
  bool answered = false;
  for (int i = 0; i < 20000 && !answered; ++i) {
    auto line = client->readLine(std::chrono::seconds(5));
    ASSERT_TRUE(line) << "connection lost";
    answered = (*line == "200 Command OK");
  }
  EXPECT_TRUE(answered);
  auto other = fixture_.connect();
  EXPECT_EQ(other->ask("NOOP"), "200 Command OK");
}

class MonitoredConnectionTest : public ::testing::Test {
 protected:
  static settings::Settings Monitored(const std::string& root, const std::string& log) {
    auto settings = test::LoopbackSettings(root);
    settings.general.monitorNew = 1;
    settings.enableLog = 1;
    settings.logPath = log;
    return settings;
  }
  test::TempDir root_;
  std::string log_path_ = root_.dir() + "server.log";
  ServerFixture fixture_{Monitored(root_.dir(), log_path_)};
};

TEST_F(MonitoredConnectionTest, ReceivedAndRespondedLinesReachMonitorAndLog) {
  auto client = fixture_.connect();
  EXPECT_EQ(client->ask("NOOP"), "200 Command OK");
  // The reply can reach the client before its lines reach monitor and log.
  std::string log;
  EXPECT_TRUE(test::WaitUntil([&] {
    fixture_.server().logThread().flush();
    log = test::ReadFile(log_path_);
    return log.find(" : Responded 200 Command OK") != std::string::npos &&
           fixture_.view().monitor().find(" : Responded 200 Command OK") != std::string::npos;
  }));
  auto received = log.find(" : Received NOOP from 127.0.0.1\r\n");
  ASSERT_NE(received, std::string::npos) << log;
  EXPECT_NE(log.find(" : Responded 200 Command OK\r\n\r\n", received), std::string::npos) << log;
  EXPECT_NE(log.find(" New connection: 127.0.0.1"), std::string::npos);
  std::string monitor = fixture_.view().monitor();
  EXPECT_NE(monitor.find("Received NOOP from 127.0.0.1\r\n"), std::string::npos);
  // Stamps are "%Y-%m-%d %H:%M:%S".
  auto stamp = monitor.find(" : Received NOOP");
  ASSERT_GE(stamp, 19u);
  std::string time = monitor.substr(stamp - 19, 19);
  EXPECT_EQ(time[4], '-');
  EXPECT_EQ(time[10], ' ');
  EXPECT_EQ(time[13], ':');
}

}  // namespace
}  // namespace talvek::ftp
