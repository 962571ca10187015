// Admission of real loopback connections: limits, policies, filter hook.
#include <gtest/gtest.h>

#include "support/server_fixture.h"

namespace talvek::server {
namespace {

using test::LineClient;
using test::ServerFixture;

settings::Settings Limited(const std::string& root, uint32_t per_address, uint32_t refuse, uint32_t total = 100) {
  auto settings = test::LoopbackSettings(root);
  settings.general.limitPerAddress = 1;
  settings.general.connectionsPerAddress = per_address;
  settings.general.refuseNew = refuse;
  settings.general.maxConnections = total;
  return settings;
}

std::unique_ptr<LineClient> Connect(ServerFixture& fixture, const std::string& source = "") {
  auto client = std::make_unique<LineClient>();
  EXPECT_TRUE(client->connect(fixture.port(), "127.0.0.1", source));
  return client;
}

TEST(Admission, PerAddressLimitRefusesTheThirdFromOneAddress) {
  test::TempDir root;
  ServerFixture fixture(Limited(root.dir(), 2, 1));
  auto first = fixture.connect();
  auto second = fixture.connect();
  auto third = Connect(fixture);
  EXPECT_EQ(third->readReply(), "421 Maximum allowable connections per user exceeded");
  EXPECT_TRUE(third->waitClosed());
  auto other = Connect(fixture, "127.0.0.2");
  EXPECT_EQ(other->readReply(), "220 Service ready for new user");
  EXPECT_EQ(first->ask("NOOP"), "200 Command OK");
  EXPECT_EQ(fixture.view().monitor().find("exceeded"), std::string::npos);  // no event line
}

TEST(Admission, PerAddressLimitCloseOldestAdmitsAndClosesTheFirst) {
  test::TempDir root;
  ServerFixture fixture(Limited(root.dir(), 2, 0));
  auto first = fixture.connect();
  auto second = fixture.connect();
  ASSERT_TRUE(fixture.waitForRegistered(2));
  auto third = fixture.connect();
  EXPECT_TRUE(first->waitClosed());
  EXPECT_EQ(second->ask("NOOP"), "200 Command OK");
  EXPECT_EQ(third->ask("NOOP"), "200 Command OK");
  EXPECT_TRUE(fixture.waitForRegistered(2));
}

TEST(Admission, TotalLimitRefusesTheConnectionOverIt) {
  test::TempDir root;
  auto settings = test::LoopbackSettings(root.dir());
  settings.general.maxConnections = 1;
  ServerFixture fixture(settings);
  auto first = fixture.connect();
  auto second = Connect(fixture);
  EXPECT_EQ(second->readReply(), "421 Maximum allowable connections exceeded");
  EXPECT_TRUE(second->waitClosed());
  EXPECT_TRUE(test::WaitUntil([&] { return fixture.server().connectionCount() == 1; }));
  EXPECT_EQ(first->ask("NOOP"), "200 Command OK");
}

TEST(Admission, ZeroMaximumRefusesEveryone) {
  test::TempDir root;
  auto settings = test::LoopbackSettings(root.dir());
  settings.general.maxConnections = 0;
  ServerFixture fixture(settings);
  auto client = Connect(fixture);
  EXPECT_EQ(client->readReply(), "421 Maximum allowable connections exceeded");
}

TEST(Admission, BannedHostIsNamedByItsReverseNameAndRefusedBeforeLimits) {
  test::TempDir root;
  auto settings = Limited(root.dir(), 0, 1, 0);  // every limit exceeded too
  ServerEnvironment environment;
  environment.reverse_lookup = [](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
    done("client.example");
  };
  ServerFixture fixture(settings, environment, [](const settings::Settings&, const std::string&) { return true; });
  auto client = Connect(fixture);
  EXPECT_EQ(client->readReply(), "421 Host client.example not permitted access to this server");
  EXPECT_TRUE(client->waitClosed());
  EXPECT_TRUE(test::WaitUntil([&] {
    return fixture.view().monitor().find(
               "Attempt to connect by banned host 127.0.0.1 (client.example) rejected\r\n\r\n") != std::string::npos;
  }));
  EXPECT_TRUE(test::WaitUntil([&] { return fixture.server().connectionCount() == 0; }));
}

TEST(Admission, BannedHostWithoutNameShowsOnlyItsAddress) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()), {},
                        [](const settings::Settings&, const std::string& address) { return address == "127.0.0.1"; });
  auto client = Connect(fixture);
  EXPECT_EQ(client->readReply(), "421 Host 127.0.0.1 not permitted access to this server");
  EXPECT_TRUE(test::WaitUntil([&] {
    return fixture.view().monitor().find("Attempt to connect by banned host 127.0.0.1 rejected") != std::string::npos;
  }));
  auto other = Connect(fixture, "127.0.0.2");
  EXPECT_EQ(other->readReply(), "220 Service ready for new user");
}

TEST(Admission, AdmittedConnectionIsLoggedAndCounted) {
  test::TempDir root;
  ServerFixture fixture(test::LoopbackSettings(root.dir()));
  auto client = fixture.connect();
  ASSERT_TRUE(fixture.waitForRegistered(1));
  EXPECT_TRUE(test::WaitUntil(
      [&] { return fixture.view().monitor().find(" New connection: 127.0.0.1\r\n\r\n") != std::string::npos; }));
  EXPECT_EQ(fixture.server().registrySnapshot().front()->slot_number.load(), 1u);
}

}  // namespace
}  // namespace talvek::server

namespace talvek::server {
namespace {

settings::Settings Filtering(const std::string& root, uint32_t block_listed) {
  auto settings = test::LoopbackSettings(root);
  settings.general.filterEnabled = 1;
  settings.general.blockListed = block_listed;
  return settings;
}

TEST(FilterAdmission, BlockModeRefusesAListedAddressFromFiltersTxt) {
  test::TempDir root, program;
  program.write("Filters.txt", "^127\\.0\\.0\\.1$\r\n");
  ServerEnvironment environment;
  environment.program_directory = program.path();
  ServerFixture fixture(Filtering(root.dir(), 1), environment);
  test::LineClient refused;
  ASSERT_TRUE(refused.connect(fixture.port()));
  EXPECT_EQ(refused.readReply(), "421 Host 127.0.0.1 not permitted access to this server");
  test::LineClient other;
  ASSERT_TRUE(other.connect(fixture.port(), "127.0.0.1", "127.0.0.2"));
  EXPECT_EQ(other.readReply(), "220 Service ready for new user");
}

TEST(FilterAdmission, AllowOnlyModeAdmitsOnlyListedAddresses) {
  test::TempDir root, program;
  program.write("Filters.txt", "^127\\.0\\.0\\.1$\r\n");
  ServerEnvironment environment;
  environment.program_directory = program.path();
  ServerFixture fixture(Filtering(root.dir(), 0), environment);
  auto admitted = fixture.connect();
  test::LineClient refused;
  ASSERT_TRUE(refused.connect(fixture.port(), "127.0.0.1", "127.0.0.3"));
  EXPECT_EQ(refused.readReply(), "421 Host 127.0.0.3 not permitted access to this server");
}

TEST(FilterAdmission, RecheckAfterAnEditDisconnectsANowRefusedClient) {
  test::TempDir root, program;
  ServerEnvironment environment;
  environment.program_directory = program.path();
  ServerFixture fixture(Filtering(root.dir(), 1), environment);
  auto client = fixture.connect();
  test::LineClient bystander;
  ASSERT_TRUE(bystander.connect(fixture.port(), "127.0.0.1", "127.0.0.2"));
  ASSERT_EQ(bystander.readReply(), "220 Service ready for new user");
  ASSERT_TRUE(fixture.waitForRegistered(2));
  program.write("Filters.txt", "^127\\.0\\.0\\.1$\r\n");
  fixture.server().reloadFilterList();
  EXPECT_TRUE(client->waitClosed());
  EXPECT_EQ(bystander.ask("NOOP"), "200 Command OK");
}

}  // namespace
}  // namespace talvek::server
