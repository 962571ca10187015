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
// runs: the connection goes at once and takes its transfer with it.
TEST_F(LifetimeTest, EndingTheControlConnectionEndsItsTransfer) {
  WriteFile(root_.path() / "big.bin", std::string(32 << 20, 'x'));
  for (const char* command : {"RETR big.bin", "STOR part.bin"})
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
  // The peer reads nothing: the transfer thread waits on a full socket.
  auto busy = BlockControlThread(fixture_.server(), std::chrono::seconds(3));
  fixture_.server().shutdown();
  EXPECT_TRUE(peer.closedWithin(std::chrono::seconds(10)));
}

}  // namespace
}  // namespace talvek::test
