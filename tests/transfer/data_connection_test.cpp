// PORT, PASV, REST and ABOR, the start of transfers in both modes, reply
// order, time-outs and the release of descriptors and threads.
#include <filesystem>

#include "transfer/data_commands.h"
#include "transfer_fixture.h"

namespace talvek::test {
namespace {

const char k226[] = "226 Closing data connection. Requested file action successful.";
const char k125[] = "125 Data connection already open; transfer starting";
const char k150[] = "150 About to open data connection";
const char k425[] = "425 Can't open data connection";

class DataConnectionTest : public TransferTest {};

TEST(UniqueNameTest, FormatsLocalTimeWithUnderscores) {
  EXPECT_EQ(transfer::UniqueNameFor(LocalTime(2001, 6, 15, 14, 3, 59)), "2001_06_15_14_03_59");
}

TEST_F(DataConnectionTest, RestAborAndADisabledPasvReplyWithoutATransfer) {
  auto client = loggedIn();
  EXPECT_EQ(client->ask("REST junk"), "350 Requested file action pending further information");
  EXPECT_EQ(client->ask("ABOR"), k226);
  fixture_.server().updateSettings([](auto& s) { s.net.disablePasv = 1; });
  EXPECT_EQ(client->ask("PASV"), "502 Command not implemented");
}

// Every command refused for want of the one right it needs, with every
// other right granted: each with its own reply, and the disk unchanged.
TEST_F(DataConnectionTest, EachCommandAsksForItsRight) {
  root_.write("a.txt", "x");
  root_.write("pub/b.txt", "b");
  auto client = loggedIn();
  const char *k532 = "532 Need account for storing files", *k450 = "450 Requested file action not executed",
             *kNoDelete = "550 You do not have delete permission on this server";
  const uint8_t kRead = 1, kWrite = 2, kDelete = 4;
  for (auto [missing, command, reply] : std::initializer_list<std::tuple<uint8_t, const char*, std::string>>{
           {kRead, "RETR a.txt", "550 Requested action not taken. File unavailable"}, {kRead, "LIST", k450},
           {kRead, "NLST", k450}, {kRead, "MLSD", "550 Requested action not taken. File unavailable: Access denied"},
           {kWrite, "STOR b.txt", k532}, {kWrite, "STOU", k532}, {kDelete, "APPE a.txt", k532},
           {kWrite, "MKD new", "550 You do not have write access on this server"}, {kDelete, "DELE a.txt", kNoDelete},
           {kDelete, "RMD pub", kNoDelete}, {kDelete, "RNFR a.txt", k450},
           {kWrite, "MFMT 20240101000000 a.txt", "550 Requested action not taken. File unavailable: Access denied"},
           {kWrite, "OPTS MLST perm;", "200 MLST OPTS perm;"},
           {kWrite | kDelete, "MLST a.txt", "250-Listing a.txt\r\n perm=r; a.txt\r\n250 End"},
           {kWrite | kDelete, "MLST pub", "250-Listing pub\r\n perm=el; pub\r\n250 End"}}) {
    changeRecord([&, missing = missing](auto& record) { record.control.permissions = 7 & ~missing; });
    EXPECT_EQ(client->ask(command), reply) << command << " without " << int(missing);
  }
  EXPECT_EQ(root_.read("a.txt"), "x");
  EXPECT_EQ(root_.read("pub/b.txt"), "b");
  EXPECT_FALSE(std::filesystem::exists(root_.path() / "new") || std::filesystem::exists(root_.path() / "b.txt"));
}

TEST_F(DataConnectionTest, ActiveConnectionsOnlyToTheClientAndRefusedOnesGet425) {
  root_.write("a.txt", "x");
  auto client = loggedIn();
  // Another host, port 0, and arguments that make no address.
  for (const char* port : {"PORT 10,0,0,7,4,1", "PORT 127,0,0,1,0,0", "PORT 1,2", "PORT a,b,c,d,x,y"}) {
    EXPECT_EQ(client->ask(port), "200 Command OK");
    EXPECT_EQ(client->ask("RETR a.txt"), k425);
  }
  std::string closed_port = ActiveListener().portCommand();
  EXPECT_EQ(client->ask(closed_port), "200 Command OK");
  EXPECT_EQ(client->ask("RETR a.txt"), k150);
  EXPECT_EQ(client->readReply(), k425);
  ActiveListener listener;
  EXPECT_EQ(client->ask(listener.portCommand()), "200 Command OK");
  EXPECT_EQ(client->ask("RETR a.txt"), k150);
  EXPECT_EQ(listener.accept().readAll(), "x");
  EXPECT_EQ(client->readReply(), k226);
}

TEST_F(DataConnectionTest, PassiveConnectionThatNeverArrivesTimesOutWith425) {
  fixture_.server().data_connection_timeout_ms = 200;
  root_.write("a.txt", "x");
  auto client = loggedIn();
  EXPECT_EQ(client->ask("PASV").value_or("").substr(0, 3), "227");
  EXPECT_EQ(client->ask("RETR a.txt"), k150);
  EXPECT_EQ(client->readReply(), k425);
  EXPECT_EQ(fetch(*client, "RETR a.txt"), "x");
}

// ABOR in the middle of either direction, and of a cached download that
// goes out from the event loop: the one 226, nothing counted or listed,
// what arrived kept, and the session goes on.
TEST_F(DataConnectionTest, AborMidTransferEndsItWithTheOneReply) {
  auto& server = fixture_.server();
  server.updateSettings([](auto& s) {
    s.general.recordFileLists = 1;
    s.cache.fileCacheKB = 64 << 10;
  });
  ASSERT_TRUE(server.runOnControlThread([&server] { server.applyCacheSettings(); }));
  root_.write("big.bin", std::string(32 << 20, 'b'));
  root_.write("cached.bin", std::string(16 << 20, 'c'));  // more than the socket buffers take
  SetModified(root_.path() / "cached.bin", kLongAgo);
  auto client = loggedIn();
  EXPECT_EQ(fetch(*client, "RETR cached.bin").size(), 16u << 20);  // read whole, then cached
  auto record = server.registrySnapshot().front();
  uint64_t moved = server.bytes_sent.load() + server.bytes_received.load();
  auto part = root_.path() / "part.bin";
  for (const char* command : {"RETR big.bin", "STOR part.bin", "RETR cached.bin"}) {
    SCOPED_TRACE(command);
    bool upload = command[0] == 'S';
    auto data = passive(*client);
    EXPECT_EQ(client->ask(command), k125);
    // A download blocks on a client that reads nothing until the abort.
    if (upload) {
      EXPECT_TRUE(data.sendAll(std::string(1000, 'p')));
      EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(part) && std::filesystem::file_size(part) == 1000; }));
    }
    EXPECT_EQ(client->ask("ABOR"), k226);
    EXPECT_TRUE(client->silentFor(std::chrono::milliseconds(300)));
    if (!upload) {
      EXPECT_LT(data.readAll().value_or(std::string(32 << 20, 'b')).size(), 16u << 20);
    }
    EXPECT_TRUE(WaitUntil([&] { return askRecord([](auto& record) { return !record.control.data_socket; }); }));
  }
  EXPECT_EQ(client->ask("NOOP"), "200 Command OK");
  EXPECT_EQ(root_.read("part.bin"), std::string(1000, 'p'));
  EXPECT_EQ(server.bytes_sent.load() + server.bytes_received.load(), moved);
  auto texts = record->texts.lock();
  EXPECT_EQ(texts->downloads_list + texts->uploads_list, "Downloads:\r\n" + root_.dir() + "cached.bin\r\nUploads:\r\n");
}

TEST_F(DataConnectionTest, StatDuringAPassiveTransferReportsItsProgressAndASecondGets425) {
  root_.write("big.bin", std::string(32 << 20, 'b'));
  auto client = loggedIn();
  uint16_t port = PassivePort(client->ask("PASV").value_or(""));
  EXPECT_EQ(client->ask("RETR big.bin"), k150);
  auto data = ConnectData(port);
  auto record = fixture_.server().registrySnapshot().front();
  ASSERT_TRUE(WaitUntil([&] { return record->shared.transfer_done.load() > 0; }));
  std::string reply = client->ask("STAT").value_or("");
  EXPECT_EQ(reply.rfind("213 File big.bin : ", 0), 0u) << reply;
  EXPECT_NE(reply.find(" of 33554432 bytes transfered"), std::string::npos) << reply;
  EXPECT_EQ(client->ask("RETR big.bin"), k425);
  EXPECT_EQ(data.readAll().value_or("").size(), 32u << 20);
  EXPECT_EQ(client->readReply(), k226);
}

// Entries of a /proc/self directory: open descriptors or threads.
int Entries(const char* directory) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
  return count;
}

TEST_F(DataConnectionTest, TwoHundredTransfersLeaveNoDescriptorOrThreadBehind) {
  root_.write("a.txt", "abc");
  auto client = loggedIn();
  EXPECT_EQ(fetch(*client, "RETR a.txt"), "abc");
  // A listing runs on a worker, which the engine keeps for the next one.
  EXPECT_EQ(fetch(*client, "NLST"), ".\r\n..\r\na.txt\r\n");
  ASSERT_TRUE(WaitUntil([&] { return askRecord([](auto& record) { return !record.control.data_socket; }); }));
  int descriptors = Entries("/proc/self/fd");
  int threads = Entries("/proc/self/task");
  ActiveListener listener;
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(fetch(*client, i % 2 ? "NLST" : "RETR a.txt"), i % 2 ? ".\r\n..\r\na.txt\r\n" : "abc");
    ASSERT_EQ(client->ask(listener.portCommand()), "200 Command OK");
    ASSERT_EQ(client->ask("RETR a.txt"), k150);
    ASSERT_EQ(listener.accept().readAll(), "abc");
    ASSERT_EQ(client->readReply(), k226);
  }
  ASSERT_TRUE(WaitUntil([&] { return askRecord([](auto& record) { return !record.control.data_socket; }); }));
  EXPECT_EQ(Entries("/proc/self/fd"), descriptors + 1);  // the active listener
  EXPECT_EQ(Entries("/proc/self/task"), threads);
}

}  // namespace
}  // namespace talvek::test
