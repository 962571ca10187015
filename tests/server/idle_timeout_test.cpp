#include <gtest/gtest.h>

#include "log/log_thread.h"
#include "support/server_fixture.h"

namespace talvek::server {
namespace {

using test::ServerFixture;

class IdleTimeoutTest : public ::testing::Test {
 protected:
  static settings::Settings WithTimeout(const std::string& root, uint32_t minutes) {
    auto settings = test::LoopbackSettings(root);
    settings.general.timeoutIdle = 1;
    settings.general.timeoutMinutes = minutes;
    return settings;
  }
  // Connects `count` clients and returns their records in registry order.
  std::vector<std::shared_ptr<ConnectionRecord>> connect(int count) {
    for (int i = 0; i < count; ++i) clients_.push_back(fixture_->connect());
    EXPECT_TRUE(fixture_->waitForRegistered(static_cast<size_t>(count)));
    return fixture_->server().registrySnapshot();
  }
  void sweepAt(std::time_t now) {
    ASSERT_TRUE(fixture_->server().runOnControlThread([&] { fixture_->server().idleSweep(now); }));
  }
  void start(uint32_t minutes) { fixture_ = std::make_unique<ServerFixture>(WithTimeout(root_.dir(), minutes)); }

  test::TempDir root_;
  std::unique_ptr<ServerFixture> fixture_;
  std::vector<std::unique_ptr<test::LineClient>> clients_;
};

TEST_F(IdleTimeoutTest, IdleForMoreThanTheTimeoutInWholeMinutesIsClosed) {
  start(10);
  auto records = connect(2);
  std::time_t now = std::time(nullptr);
  records[0]->last_activity = now - (10 * 60 + 59);  // 10 whole minutes: stays
  records[1]->last_activity = now - 11 * 60;
  std::time_t closed_last = records[1]->last_activity.load();
  records.clear();
  sweepAt(now);
  EXPECT_TRUE(clients_[1]->waitClosed());
  EXPECT_EQ(clients_[0]->ask("NOOP"), "200 Command OK");
  std::string expected = log::FormatLocalTime(now) + " : Host 127.0.0.1 disconnected on timeout\r\n(Last activity at " +
                         log::FormatLocalTime(closed_last) + ")\r\n\r\n";
  EXPECT_NE(fixture_->view().monitor().find(expected), std::string::npos) << fixture_->view().monitor();
}

TEST_F(IdleTimeoutTest, OneSweepClosesEveryTimedOutConnection) {
  start(90);
  auto records = connect(3);
  std::time_t now = std::time(nullptr);
  for (auto& record : records) record->last_activity = now - 91 * 60;
  records.clear();
  sweepAt(now);
  for (auto& client : clients_) EXPECT_TRUE(client->waitClosed());
  EXPECT_TRUE(fixture_->waitForRegistered(0));
}

TEST_F(IdleTimeoutTest, EveryCommandCountsAsActivity) {
  start(10);
  auto records = connect(1);
  records[0]->last_activity = std::time(nullptr) - 3600;
  EXPECT_EQ(clients_[0]->ask("NOOP"), "200 Command OK");
  records.clear();
  sweepAt(std::time(nullptr) + 60);
  EXPECT_EQ(clients_[0]->ask("NOOP"), "200 Command OK");
}

}  // namespace
}  // namespace talvek::server
