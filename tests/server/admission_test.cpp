// Admission of real loopback connections: limits and their policies, the
// IP filter, the failed-login throttle.
#include <gtest/gtest.h>

#include "support/server_fixture.h"

namespace talvek::server {
namespace {

using test::LineClient;
using test::ServerFixture;

const std::string kGreeting = "220 Service ready for new user", kOk = "200 Command OK",
                  kPerUser = "421 Maximum allowable connections per user exceeded",
                  kTotal = "421 Maximum allowable connections exceeded";

struct Client {
  std::string source;  // "" is 127.0.0.1
  std::string first_reply;
  bool open_at_end;
};
struct LimitCase {
  const char* name;
  uint32_t per_address, refuse_new, total;  // per_address 0: no per-address limit
  bool send_port;                           // each admitted client names another host with PORT
  std::vector<Client> clients;              // connected one after another
};

TEST(Admission, LimitsAndPoliciesCountTheAddressTheConnectionCameFrom) {
  const std::vector<LimitCase> table = {
      {"per address, refuse new", 2, 1, 100, false,
       {{"", kGreeting, true}, {"", kGreeting, true}, {"", kPerUser, false}, {"127.0.0.2", kGreeting, true}}},
      {"per address after PORT", 2, 1, 100, true,
       {{"", kGreeting, true}, {"", kGreeting, true}, {"", kPerUser, false}, {"", kPerUser, false}}},
      {"per address, close oldest", 2, 0, 100, true,
       {{"", kGreeting, false}, {"", kGreeting, true}, {"", kGreeting, true}}},
      {"per address, IPv6", 1, 1, 100, false, {{"::1", kGreeting, true}, {"::1", kPerUser, false}, {"", kGreeting, true}}},
      {"total", 0, 1, 1, false, {{"", kGreeting, true}, {"127.0.0.2", kTotal, false}}},
      {"total of zero", 0, 1, 0, false, {{"", kTotal, false}}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    test::TempDir root;
    auto settings = test::LoopbackSettings(root.dir());
    settings.general.limitPerAddress = row.per_address > 0;
    settings.general.connectionsPerAddress = row.per_address;
    settings.general.refuseNew = row.refuse_new;
    settings.general.maxConnections = row.total;
    ServerFixture fixture(settings);
    std::vector<std::unique_ptr<LineClient>> clients;
    for (const auto& expected : row.clients) {
      clients.push_back(fixture.open(expected.source));
      EXPECT_EQ(clients.back()->readReply(), expected.first_reply);
      if (row.send_port && expected.first_reply == kGreeting) {
        EXPECT_EQ(clients.back()->ask("PORT 9,9,9,9,4,1"), kOk);
      }
    }
    for (size_t i = 0; i < clients.size(); ++i) {
      bool open = row.clients[i].open_at_end;
      EXPECT_TRUE(open ? clients[i]->ask("NOOP") == kOk : clients[i]->waitClosed()) << i;
    }
    EXPECT_EQ(fixture.view().monitor().find("exceeded"), std::string::npos);  // limits write no event line
  }
}

TEST(Admission, OfSimultaneousClientsOnlyTheLastOverTheTotalIsRefused) {
  test::TempDir root;
  auto settings = test::LoopbackSettings(root.dir());
  settings.general.maxConnections = 3;
  ServerEnvironment environment;
  // Every lookup waits until all four clients are in theirs.
  // The server owns the waiting lookups, as it owns real ones.
  auto waiting = std::make_shared<std::vector<std::function<void(std::string)>>>();
  environment.reverse_lookup = [waiting](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
    waiting->push_back(std::move(done));
    if (waiting->size() < 4) return;
    for (auto& finish : *waiting) finish({});
    waiting->clear();
  };
  ServerFixture fixture(settings, environment);
  std::vector<std::unique_ptr<LineClient>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(fixture.open());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(clients[i]->readReply(), kGreeting) << i;
  EXPECT_EQ(clients[3]->readReply(), kTotal);
  EXPECT_TRUE(fixture.waitForRegistered(3));
}

struct FilterCase {
  const char* name;
  bool block_listed;  // Filters.txt lists 127.0.0.1 and ::1
  std::string source, reverse_name, first_reply, event;
};

TEST(FilterAdmission, TheFilterDecidesFirstAndNamesTheHost) {
  const std::string kBanned = "Attempt to connect by banned host ";
  const std::vector<FilterCase> table = {
      {"block, listed, named", true, "127.0.0.1", "client.example",
       "421 Host client.example not permitted access to this server",
       kBanned + "127.0.0.1 (client.example) rejected\r\n\r\n"},
      {"block, escaped name", true, "127.0.0.1", "a\nb", "421 Host a\\x0ab not permitted access to this server",
       kBanned + "127.0.0.1 (a\\x0ab) rejected"},
      {"block, not listed", true, "127.0.0.2", "", kGreeting, " New connection: 127.0.0.2\r\n\r\n"},
      {"allow only, listed", false, "127.0.0.1", "", kGreeting, " New connection: 127.0.0.1"},
      {"block, IPv6 listed", true, "::1", "", "421 Host ::1 not permitted access to this server",
       kBanned + "::1 rejected"},
      {"allow only, IPv6 listed", false, "::1", "", kGreeting, " New connection: ::1\r\n"},
      {"allow only, not listed", false, "127.0.0.3", "", "421 Host 127.0.0.3 not permitted access to this server",
       kBanned + "127.0.0.3 rejected\r\n\r\n"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    test::TempDir root, program;
    program.write("Filters.txt", "^127\\.0\\.0\\.1$\r\n^::1$\r\n");
    auto settings = test::LoopbackSettings(root.dir());
    settings.general.filterEnabled = 1;
    settings.general.blockListed = row.block_listed;
    // A refused host is refused by the filter even when every limit is exceeded too.
    if (row.first_reply != kGreeting) settings.general.maxConnections = 0;
    ServerEnvironment environment;
    environment.program_directory = program.path();
    environment.reverse_lookup = [&](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
      done(row.reverse_name);
    };
    ServerFixture fixture(settings, environment);
    auto client = fixture.open(row.source);
    EXPECT_EQ(client->readReply(), row.first_reply);
    EXPECT_TRUE(test::WaitUntil([&] { return fixture.view().monitor().find(row.event) != std::string::npos; }))
        << fixture.view().monitor();
  }
}

TEST(FilterAdmission, AnAddressIsLookedUpOnceAndItsNameReusedForLaterConnections) {
  test::TempDir root, program;
  program.write("Filters.txt", "^127\\.0\\.0\\.1$\r\n");
  auto settings = test::LoopbackSettings(root.dir());
  settings.general.filterEnabled = 1;
  settings.general.blockListed = 1;
  auto lookups = std::make_shared<std::atomic<int>>(0);
  ServerEnvironment environment;
  environment.program_directory = program.path();
  environment.reverse_lookup = [lookups](asio::io_context&, const std::string&, std::function<void(std::string)> done) {
    done("name-" + std::to_string(++*lookups));
  };
  ServerFixture fixture(settings, environment);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(fixture.open()->readReply(), "421 Host name-1 not permitted access to this server") << i;
  EXPECT_EQ(fixture.open("127.0.0.2")->readReply(), kGreeting);
  EXPECT_EQ(lookups->load(), 2);
}

TEST(LoginThrottle, FailedPasswordsAreDelayedThenBanTheAddress) {
  test::TempDir root;
  auto settings = test::LoopbackSettings(root.dir());
  settings.loginThrottle = {1, 3, 10, 30};  // 1 s delay; 3 failures in 10 minutes ban for 30
  ServerFixture fixture(settings);
  const std::string kRefused = "530 Not logged on";
  auto client = fixture.connect();
  auto other = fixture.open("127.0.0.2");
  ASSERT_EQ(other->readReply(), kGreeting);
  ASSERT_TRUE(client->send("USER nobody\r\nPASS wrong\r\nNOOP\r\n"));
  EXPECT_EQ(client->readReply(), kRefused);
  // The control thread goes on serving others while the reply waits, and
  // nothing after the refused PASS is read before it.
  EXPECT_EQ(other->ask("NOOP"), kOk);
  EXPECT_TRUE(client->silentFor(std::chrono::milliseconds(300)));
  EXPECT_EQ(client->readReply(), kRefused);
  EXPECT_EQ(client->readReply(), kOk);
  fixture.server().updateSettings([](settings::Settings& s) { s.loginThrottle.failDelaySeconds = 0; });
  EXPECT_TRUE(other->command("PASS wrong"));  // another address counts apart
  ASSERT_TRUE(client->send("PASS wrong\r\nPASS wrong\r\n"));
  EXPECT_TRUE(client->waitClosed());
  EXPECT_TRUE(test::WaitUntil([&] {
    return fixture.view().monitor().find("Host 127.0.0.1 banned for 30 minutes after 3 failed logins") !=
           std::string::npos;
  }));
  EXPECT_EQ(fixture.open()->readReply(), "421 Host 127.0.0.1 not permitted access to this server");
  EXPECT_EQ(other->readReply(), kRefused);
  EXPECT_EQ(fixture.open("127.0.0.2")->readReply(), kGreeting);

  // The ban ends after its time; older failures fall out of the window.
  server::LoginThrottle throttle;
  auto now = server::LoginThrottle::Clock::now();
  const settings::LoginThrottleSettings rules{0, 2, 10, 30};
  EXPECT_FALSE(throttle.failed("10.0.0.1", rules, now));
  EXPECT_FALSE(throttle.failed("10.0.0.1", rules, now + std::chrono::minutes(10)));
  EXPECT_TRUE(throttle.failed("10.0.0.1", rules, now + std::chrono::minutes(11)));
  EXPECT_TRUE(throttle.banned("10.0.0.1", now + std::chrono::minutes(40)));
  EXPECT_FALSE(throttle.banned("10.0.0.1", now + std::chrono::minutes(41)));
}

}  // namespace
}  // namespace talvek::server
