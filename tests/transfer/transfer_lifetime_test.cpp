// What outlives what across threads: work handed to a busy control thread,
// and transfers still running when the server shuts down. The control
// thread is held busy by work of the test's own, never by sleeps.
#include <asio/post.hpp>

#include <future>

#include "transfer/transfer_fixture.h"

namespace talvek::test {
namespace {

// Holds the control thread until released (or, bounded, after `limit`).
std::shared_ptr<std::promise<void>> BlockControlThread(server::Server& server,
                                                       std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto release = std::make_shared<std::promise<void>>();
  asio::post(server.context(), [held = release->get_future(), limit] { held.wait_for(limit); });
  return release;
}

class LifetimeTest : public TransferTest {};

TEST_F(LifetimeTest, ACallThatTimesOutKeepsItsResultInSharedState) {
  auto& server = fixture_.server();
  auto ran = std::make_shared<std::atomic<int>>(0);
  auto release = BlockControlThread(server);
  // Nothing of this frame is touched when the work runs after the wait gave up.
  EXPECT_EQ(server.callOnControlThread<int>([ran] { return ++*ran; }, std::chrono::milliseconds(1)), std::nullopt);
  EXPECT_FALSE(server.runOnControlThread([ran] { ++*ran; }, std::chrono::milliseconds(1)));
  release->set_value();
  EXPECT_EQ(server.callOnControlThread<int>([ran] { return ++*ran; }), 3);
}

// The control connection ends, by QUIT or by the peer, while a transfer
// runs (on a worker, or a cached download on the event loop): the
// connection goes at once and takes its transfer with it.
TEST_F(LifetimeTest, EndingTheControlConnectionEndsItsTransfer) {
  auto& server = fixture_.server();
  server.updateSettings([](auto& s) { s.cache.fileCacheKB = 64 << 10; });
  ASSERT_TRUE(server.runOnControlThread([&server] { server.applyCacheSettings(); }));
  WriteFile(root_.path() / "big.bin", std::string(32 << 20, 'x'));
  WriteFile(root_.path() / "cached.bin", std::string(16 << 20, 'c'));
  SetModified(root_.path() / "cached.bin", kLongAgo);
  {
    auto client = loggedIn();
    EXPECT_EQ(fetch(*client, "RETR cached.bin").size(), 16u << 20);
  }
  EXPECT_TRUE(fixture_.waitForRegistered(0));
  for (const char* command : {"RETR big.bin", "STOR part.bin", "RETR cached.bin"})
    for (bool quit : {true, false}) {
      SCOPED_TRACE(std::string(command) + (quit ? " then QUIT" : " then close"));
      auto client = loggedIn();
      DataPeer peer = passive(*client);
      EXPECT_EQ(client->ask(command), "125 Data connection already open; transfer starting");
      EXPECT_TRUE(peer.sendAll(quit ? "" : "some"));
      if (quit) {
        EXPECT_EQ(client->ask("QUIT"), "221 Service closing control connection. Logged out if appropriate.");
        EXPECT_TRUE(client->waitClosed());
      } else {
        client->close();
      }
      EXPECT_TRUE(fixture_.waitForRegistered(0));
      EXPECT_TRUE(peer.closedWithin());
    }
}

// With every worker busy a transfer waits its turn, first come first
// served, and runs once a worker is free.
TEST_F(LifetimeTest, TransfersBeyondTheWorkerBoundWaitTheirTurnInOrder) {
  const std::string k226 = "226 Closing data connection. Requested file action successful.";
  auto& server = fixture_.server();
  server.transferEngine().limit(1);
  server.updateSettings([](auto& s) {
    s.anonymous.allow = 1;
    s.anonymous.rights = 7;
  });
  WriteFile(root_.path() / "big.bin", std::string(32 << 20, 'x'));
  std::vector<std::unique_ptr<LineClient>> clients;
  std::vector<DataPeer> peers;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(fixture_.connect());
    auto& client = *clients.back();
    EXPECT_EQ(client.ask("USER anonymous").value_or("").substr(0, 3), "331");
    EXPECT_EQ(client.ask("PASS me@").value_or("").substr(0, 3), "230");
    peers.push_back(passive(client));
    // 125 or 150, by when the server took the data connection.
    EXPECT_EQ(client.ask("RETR big.bin").value_or("").substr(0, 1), "1");
  }
  // The first download holds the one worker until its client reads; then
  // the second runs, and the third only after it.
  EXPECT_EQ(peers[0].readAll().value_or("").size(), 32u << 20);
  EXPECT_EQ(clients[0]->readReply(), k226);
  EXPECT_TRUE(clients[2]->silentFor(std::chrono::milliseconds(300)));
  EXPECT_EQ(peers[1].readAll().value_or("").size(), 32u << 20);
  EXPECT_EQ(clients[1]->readReply(), k226);
  EXPECT_EQ(peers[2].readAll().value_or("").size(), 32u << 20);
  EXPECT_EQ(clients[2]->readReply(), k226);
  EXPECT_EQ(server.transferEngine().workers(), 1u);
}

// The control thread is busy through the whole of shut-down, so the stop
// and the removals never run there: shut-down itself ends the transfer,
// and nothing of it runs once shutdown() has returned.
TEST_F(LifetimeTest, ShutdownEndsATransferTheControlThreadCouldNotReach) {
  WriteFile(root_.path() / "big.bin", std::string(32 << 20, 'x'));
  auto client = loggedIn();
  DataPeer peer = passive(*client);
  ASSERT_TRUE(peer.valid());
  ASSERT_TRUE(client->command("RETR big.bin"));
  ASSERT_EQ(client->readReply().value_or(""), "125 Data connection already open; transfer starting");
  // The peer reads nothing: the transfer worker waits on a full socket.
  auto busy = BlockControlThread(fixture_.server(), std::chrono::seconds(3));
  fixture_.server().shutdown();
  EXPECT_TRUE(peer.closedWithin(std::chrono::seconds(10)));
}

}  // namespace
}  // namespace talvek::test
