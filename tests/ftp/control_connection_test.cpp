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
  auto client = fixture_.connect();
  EXPECT_EQ(client->ask("noop"), "200 Command OK");
  EXPECT_EQ(client->ask("SYST"), "215 UNIX");
  EXPECT_EQ(client->ask("TYPE A N"), "200 Command OK");
  EXPECT_EQ(client->ask("TYPE I"), "200 Command OK");
  EXPECT_EQ(client->ask("TYPE L8"), "200 Command OK");
  EXPECT_EQ(client->ask("TYPE i"), "504 Command not implemented for that parameter");
  EXPECT_EQ(client->ask("TYPE E"), "504 Command not implemented for that parameter");
  EXPECT_EQ(client->ask("MODE s"), "504 Command not implemented for that parameter");
  EXPECT_EQ(client->ask("MODE S"), "200 Command OK");
  EXPECT_EQ(client->ask("STRU F"), "200 Command OK");
  EXPECT_EQ(client->ask("STRU R"), "504 Command not implemented for that parameter");
  EXPECT_EQ(client->ask("STAT"), "202 Command not implemented, superfluous on this server");
  EXPECT_EQ(client->ask("SITE anything at all"), "202 Command not implemented, superfluous on this server");
  EXPECT_EQ(client->ask("ALLO 100"), "202 Command not implemented, superfluous on this server");
  EXPECT_EQ(client->ask("MACB"), "202 Command not implemented, superfluous on this server");
  EXPECT_EQ(client->ask("ACCT x"), "202 Command not implemented, superfluous on this server");
  EXPECT_EQ(client->ask("HELP retr"), "214 RETR Download a file from the server. Syntax: RETR <filename>");
  EXPECT_EQ(client->ask("HELP"), "214 " + std::string(HelpTable::generalHelp()));
  EXPECT_EQ(client->ask("RETRX"), "500 Syntax error, command unrecognized");
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

TEST_F(ControlConnectionTest, QuitClosesWithoutReplyAndRemovesAtOnce) {
  auto client = fixture_.connect();
  ASSERT_TRUE(fixture_.waitForRegistered(1));
  ASSERT_TRUE(client->command("QUIT"));
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
