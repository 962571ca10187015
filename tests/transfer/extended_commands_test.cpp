// EPSV, EPRT and EPSV ALL over IPv4 and IPv6, PASV and PORT on IPv6
// sessions, the passive port range and the advertised address.
#include <algorithm>

#include "protocol/port_argument.h"
#include "transfer/data_commands.h"
#include "transfer_fixture.h"

namespace talvek::test {
namespace {

const char k150[] = "150 About to open data connection";
const char k226[] = "226 Closing data connection. Requested file action successful.";
const char kAfterAll[] = "503 Bad sequence of commands: only EPSV is accepted after EPSV ALL";

class ExtendedCommandsTest : public TransferTest {};

// The port of a "229 Entering Extended Passive Mode (|||port|)" reply, or 0.
uint16_t ExtendedPassivePort(const std::string& reply) {
  unsigned port = 0;
  std::sscanf(reply.c_str() + std::min(reply.find("(|||"), reply.size()), "(|||%u|)", &port);
  return static_cast<uint16_t>(port);
}

TEST(EprtArgumentTest, BothFamiliesParseAndBadOnesAreRefused) {
  struct Row { std::string argument, host; uint16_t port; int refusal; };
  const std::vector<Row> table = {
      {"|1|127.0.0.1|1025|", "127.0.0.1", 1025, 0},
      {"!2!::1!65535!", "::1", 65535, 0},
      {"|3|127.0.0.1|1025|", "", 0, 522},
      {"|x|127.0.0.1|1025|", "", 0, 501},
      {"|1|::1|1025|", "", 0, 501},
      {"|2|fe80::1%eth0|1025|", "", 0, 501},
      {"|1|127.0.0.1|65536|", "", 0, 501},
      {"|1|127.0.0.1|1025", "", 0, 501},
      {"|1|" + std::string(100, '1') + "|1025|", "", 0, 501},
  };
  for (const auto& row : table) {
    auto target = ftp::ParseEprtArgument(row.argument);
    EXPECT_EQ(target.refusal, row.refusal) << row.argument;
    EXPECT_EQ(target.host, row.host) << row.argument;
    EXPECT_EQ(target.port, row.port) << row.argument;
  }
}

TEST_F(ExtendedCommandsTest, RepliesOnEachFamilyAndAfterEpsvAll) {
  struct Row { std::string address, command, reply; };  // reply "" only checks the 229 form
  const std::vector<Row> table = {
      {"127.0.0.1", "EPSV", ""},
      {"127.0.0.1", "EPSV 2", "522 Network protocol not supported, use (1)"},
      {"127.0.0.1", "EPRT |1|127.0.0.1|1025|", "200 Command OK"},
      {"127.0.0.1", "EPRT |7|127.0.0.1|1025|", "522 Network protocol not supported, use (1,2)"},
      {"::1", "EPSV", ""},
      {"::1", "EPSV 1", "522 Network protocol not supported, use (2)"},
      {"::1", "PASV", "522 Network protocol not supported, use EPSV"},
      {"::1", "PORT 127,0,0,1,4,1", "522 Network protocol not supported, use EPRT"},
      {"::1", "EPRT |2|::1|1025|", "200 Command OK"},
      {"::1", "EPSV ALL", "200 EPSV ALL accepted; only EPSV sets up data connections now"},
      {"::1", "PASV", kAfterAll},
      {"::1", "PORT 127,0,0,1,4,1", kAfterAll},
      {"::1", "EPRT |2|::1|1025|", kAfterAll},
      {"::1", "EPSV", ""},
  };
  std::string address;
  std::unique_ptr<LineClient> client;
  for (const auto& row : table) {
    if (row.address != address) {
      client.reset();
      ASSERT_TRUE(fixture_.waitForRegistered(0));
      client = loggedIn(7, address = row.address);
    }
    auto reply = client->ask(row.command).value_or("<none>");
    if (row.reply.empty())
      EXPECT_NE(ExtendedPassivePort(reply), 0) << row.command << ": " << reply;
    else
      EXPECT_EQ(reply, row.reply) << row.address << " " << row.command;
  }
}

TEST_F(ExtendedCommandsTest, TransfersInBothModesOverBothFamilies) {
  root_.write("a.txt", "hello");
  for (std::string address : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(address);
    ASSERT_TRUE(fixture_.waitForRegistered(0));
    auto client = loggedIn(7, address);
    uint16_t port = ExtendedPassivePort(client->ask("EPSV").value_or(""));
    EXPECT_EQ(client->ask("RETR a.txt"), k150);
    EXPECT_EQ(ConnectData(port, address).readAll(), "hello");
    EXPECT_EQ(client->readReply(), k226);
    ActiveListener listener(address);
    EXPECT_EQ(client->ask(listener.eprtCommand()), "200 Command OK");
    EXPECT_EQ(client->ask("RETR a.txt"), k150);
    EXPECT_EQ(listener.accept().readAll(), "hello");
    EXPECT_EQ(client->readReply(), k226);
    client.reset();
  }
}

TEST_F(ExtendedCommandsTest, PassiveRangeIsHonouredAndExhaustedGets425) {
  uint16_t free_port = ActiveListener().port();  // closed again at once
  ActiveListener taken;
  auto client = loggedIn();
  fixture_.server().updateSettings([&](auto& s) {
    s.network.passivePortMin = s.network.passivePortMax = free_port;
    s.network.passiveAddress = "127.0.0.2";
  });
  auto reply = client->ask("PASV").value_or("");
  EXPECT_EQ(reply.rfind("227 Entering Passive Mode (127,0,0,2,", 0), 0u) << reply;
  EXPECT_EQ(PassivePort(reply), free_port);
  EXPECT_EQ(ExtendedPassivePort(client->ask("EPSV").value_or("")), free_port);
  fixture_.server().updateSettings([&](auto& s) { s.network.passivePortMin = s.network.passivePortMax = taken.port(); });
  EXPECT_EQ(client->ask("PASV"), "425 Can't open data connection");
  EXPECT_EQ(client->ask("EPSV"), "425 Can't open data connection");
}

}  // namespace
}  // namespace talvek::test
