// The control connection over a real socket: how received bytes are framed
// into command lines, the dispatcher, back-pressure on unread replies, and
// what reaches the monitor and the log.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "session/control_connection.h"
#include "support/server_fixture.h"

namespace talvek::ftp {
namespace {

using test::ServerFixture;

const std::string kOk = "200 Command OK", kUnknown = "500 Syntax error, command unrecognized";

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
  const std::string feat = "211-Extensions supported:\r\n UTF8\r\n SIZE\r\n MDTM\r\n MFMT\r\n MLST ",
                    tls = " AUTH TLS\r\n PBSZ\r\n PROT\r\n", k503 = "503 Bad sequence of commands";
  for (const auto& [command, reply] : std::initializer_list<std::pair<const char*, std::string>>{
           {"noop", k200}, {"SYST", "215 UNIX"}, {"TYPE A N", k200}, {"TYPE I", k200}, {"TYPE L8", k200},
           {"TYPE i", k504}, {"TYPE E", k504}, {"MODE s", k504}, {"MODE S", k200}, {"STRU F", k200},
           {"STRU R", k504}, {"STAT", k202}, {"SITE anything at all", k202}, {"ALLO 100", k202}, {"MACB", k202},
           {"ACCT x", k202}, {"RETRX", "500 Syntax error, command unrecognized"},
           {"HELP retr", "214 RETR Download a file from the server. Syntax: RETR <filename>"},
           {"HELP", "214 " + std::string(HelpTable::generalHelp())},
           {"HELP size", "214 SIZE Transmit the size of a file in bytes. Syntax SIZE <filename>"},
           // The extensions a client asks about before it logs in.
           {"FEAT", feat + "type*;size*;modify*;perm*;unique*;\r\n REST STREAM\r\n EPSV\r\n EPRT\r\n" + tls + "211 End"},
           {"OPTS utf8 on", k200}, {"OPTS UTF8 OFF", k504},
           {"OPTS MODE Z", "501 Syntax error in parameters or arguments"},
           {"OPTS MLST Size;TYPE;bogus;", "200 MLST OPTS type;size;"}, {"OPTS MLST", "200 MLST OPTS"},
           {"OPTS MLST modify;", "200 MLST OPTS modify;"},
           {"FEAT", feat + "type;size;modify*;perm;unique;\r\n REST STREAM\r\n EPSV\r\n EPRT\r\n" + tls + "211 End"},
           {"AUTH GSSAPI", k504}, {"PBSZ 0", k503}, {"PROT P", k503},
           {"HELP prot", "214 PROT Set the data connections' protection: P private (TLS) or C clear. Syntax PROT <[P][C]>"},
           {"SIZE a.txt", k530}, {"MDTM a.txt", k530}, {"MFMT 20000101000000 a.txt", k530}, {"MLST a.txt", k530},
           {"MLSD", k530}})
    EXPECT_EQ(client->ask(command), reply) << command;
  // TlsMode 0: no TLS offered or accepted.
  fixture_.server().updateSettings([](settings::Settings& s) { s.tls.mode = 0; });
  EXPECT_EQ(client->ask("AUTH TLS"), "502 Command not implemented");
  EXPECT_EQ(client->ask("FEAT").value_or("").find("AUTH"), std::string::npos);
}

struct Framing {
  const char* name;
  std::vector<std::string> pieces;  // sent one after another
  std::vector<std::string> replies;
};

TEST_F(ControlConnectionTest, ReceivedBytesAreFramedIntoCommandLines) {
  const std::vector<Framing> table = {
      {"blank lines and leading bytes", {"   \r\n\r\n  NOOP\r\n\xff\xf4" "SYST\r\n"}, {kOk, "215 UNIX"}},
      {"a line split across pieces", {"NOOP\r\nSY", "ST\r", "\n"}, {kOk, "215 UNIX"}},
      {"a lone LF ends nothing", {"NOOP\nNOOP\r\n"}, {kUnknown}},
      {"NUL cuts the line", {std::string("NOOP\0junk\r\nSYST\r\n", 17)}, {kOk, "215 UNIX"}},
      {"a line of exactly the limit", {"NOOP " + std::string(4091, 'x') + "\r\n"}, {kOk}},
      {"one byte over the limit", {"NOOP " + std::string(4092, 'x') + "\r\n"}, {kUnknown}},
      {"an overlong line in pieces", {std::string(3000, 'A'), std::string(3000, 'B'), "DELE x\r\nNOOP\r\n"},
       {kUnknown, kOk}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    auto client = fixture_.connect();
    for (const auto& piece : row.pieces) ASSERT_TRUE(client->send(piece));
    for (const auto& reply : row.replies) EXPECT_EQ(client->readReply(), reply);
    EXPECT_EQ(client->ask("MODE S"), kOk);  // nothing else came first
  }
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
  // QUIT hidden in the garbage would end the test early.
  for (const char* quit : {"QUIT", "quit"})
    for (size_t at = flood.find(quit); at != std::string::npos; at = flood.find(quit)) flood[at] = 'X';
  ASSERT_TRUE(client->send(flood + "\r\nNOOP\r\n"));
  bool answered = false;
  for (int i = 0; i < 20000 && !answered; ++i) {
    auto line = client->readLine();
    ASSERT_TRUE(line) << "connection lost";
    answered = *line == kOk;
  }
  EXPECT_TRUE(answered);
}

// Replies the client does not read: reading stops at the queue bound and
// resumes once the client drains; a client that never drains is closed.
TEST_F(ControlConnectionTest, UnreadRepliesHoldReceivingAndAStalledClientIsClosed) {
  std::string flood;
  for (int i = 0; i < 50000; ++i) flood += "HELP\r\n";  // about 12 MB of replies
  auto queue_state = [&](size_t& queued) {
    bool held = false;
    fixture_.server().runOnControlThread([&] {
      auto records = fixture_.server().registrySnapshot();
      if (records.empty() || !records.front()->control.control_connection) return;
      held = records.front()->control.control_connection->receiveHeld();
      queued = records.front()->control.control_connection->queuedBytes();
    });
    return held;
  };
  for (bool drain : {true, false}) {
    SCOPED_TRACE(drain ? "draining client" : "stalled client");
    fixture_.server().send_stall_limit_ms = drain ? 0 : 300;
    auto client = fixture_.connect();
    ASSERT_TRUE(fixture_.waitForRegistered(1));
    std::thread sender([&] { client->send(flood + "NOOP\r\n"); });  // blocks until drained or closed
    if (drain) {
      size_t queued = 0;
      EXPECT_TRUE(test::WaitUntil([&] { return queue_state(queued); }));
      EXPECT_LE(queued, platform::AsyncSocket::kSendQueueLimit + 4096);
      bool answered = false;
      for (int i = 0; i < 50010 && !answered; ++i) answered = client->readLine() == kOk;
      EXPECT_TRUE(answered);
      client->close();
    }
    EXPECT_TRUE(fixture_.waitForRegistered(0));
    sender.join();
  }
}

TEST(MonitoredConnectionTest, ExchangesReachMonitorAndLogWithClientBytesEscaped) {
  test::TempDir root;
  const std::string log_path = root.dir() + "server.log";
  auto settings = test::LoopbackSettings(root.dir());
  settings.general.monitorNew = 1;
  settings.enableLog = 1;
  settings.logPath = log_path;
  ServerFixture fixture(settings);
  auto client = fixture.connect();
  EXPECT_EQ(client->ask("NOOP"), kOk);
  ASSERT_TRUE(client->send("NOOP\nFAKE 2026-01-01 00:00:00 : Connection from 6.6.6.6\r\nNOOP \x1b[2J\x07\x7f\r\n"));
  EXPECT_EQ(client->readReply(), kUnknown);
  EXPECT_EQ(client->readReply(), kOk);
  const std::string forged = " : Received NOOP\\x0aFAKE 2026-01-01 00:00:00 : Connection from 6.6.6.6 from 127.0.0.1\r\n",
                    bell = " : Received NOOP \\x1b[2J\\x07\\x7f from 127.0.0.1\r\n";
  std::string log;
  // The reply can reach the client before its lines reach monitor and log.
  EXPECT_TRUE(test::WaitUntil([&] {
    fixture.server().logThread().flush();
    log = test::ReadFile(log_path);
    return log.find(bell) != std::string::npos && fixture.view().monitor().find(bell) != std::string::npos;
  })) << log;
  auto received = log.find(" : Received NOOP from 127.0.0.1\r\n");
  ASSERT_GE(received, 19u) << log;
  EXPECT_NE(log.find(" : Responded 200 Command OK\r\n\r\n", received), std::string::npos) << log;
  std::string stamp = log.substr(received - 19, 19);  // "%Y-%m-%d %H:%M:%S"
  EXPECT_TRUE(stamp[4] == '-' && stamp[10] == ' ' && stamp[13] == ':') << stamp;
  EXPECT_NE(log.find(forged), std::string::npos) << log;
  EXPECT_NE(log.find(" New connection: 127.0.0.1"), std::string::npos);
  for (const std::string& text : {log, fixture.view().monitor()})
    for (size_t i = 0; i < text.size(); ++i) {
      auto byte = static_cast<unsigned char>(text[i]);
      bool line_end = (byte == '\r' && text[i + 1] == '\n') || (byte == '\n' && i > 0 && text[i - 1] == '\r');
      ASSERT_TRUE(line_end || (byte >= 0x20 && byte != 0x7f)) << "raw byte " << int(byte) << " at " << i;
    }
}

}  // namespace
}  // namespace talvek::ftp
