// The settings blocks, their load and save, and the config command.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <sstream>

#include "settings/config_command.h"
#include "support/test_support.h"

namespace talvek::settings {
namespace {

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | uint32_t{bytes[offset + 3]} << 24;
}

std::vector<uint32_t> Words(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  std::vector<uint32_t> words;
  for (size_t i = 0; i < count; ++i) words.push_back(U32At(bytes, from + 4 * i));
  return words;
}

template <typename Block>
void ExpectLosslessAndSizeChecked() {
  std::vector<uint8_t> bytes(Block::kSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  ASSERT_TRUE(Block::unpack(bytes).has_value());
  EXPECT_EQ(Block::unpack(bytes)->pack(), bytes);
  EXPECT_FALSE(Block::unpack(std::vector<uint8_t>(Block::kSize - 1)).has_value());
  EXPECT_FALSE(Block::unpack(std::vector<uint8_t>(Block::kSize + 1)).has_value());
}

TEST(SettingsBlocks, PackEveryByteBackWithTheFieldsAtTheirOffsets) {
  ExpectLosslessAndSizeChecked<GeneralSettings>();
  ExpectLosslessAndSizeChecked<NetSettings>();
  ExpectLosslessAndSizeChecked<CacheSettings>();
  ExpectLosslessAndSizeChecked<AnonymousSettings>();
  GeneralSettings g;
  uint32_t* fields[] = {&g.recordFileLists, &g.monitorNew, &g.timeoutIdle, &g.limitPerAddress,
                        &g.filterEnabled, &g.runInBackground, &g.autoStart, &g.timeoutMinutes,
                        &g.maxConnections, &g.connectionsPerAddress, &g.refuseNew, &g.blockListed};
  for (uint32_t i = 0; i < 12; ++i) *fields[i] = i + 1;
  EXPECT_EQ(Words(g.pack(), 0, 12), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  NetSettings n;
  ASSERT_TRUE(n.setAddressText(std::string(31, '1')));
  EXPECT_FALSE(n.setAddressText(std::string(32, '2')));
  n.port = 2121, n.alwaysUsePort = 1, n.useAsDefault = 2, n.unused44 = 3, n.disablePasv = 4, n.unused52 = 5;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(n.pack().data()), 32), std::string(31, '1') + '\0');
  EXPECT_EQ(Words(n.pack(), 32, 6), (std::vector<uint32_t>{2121, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Words(CacheSettings::Defaults().pack(), 0, 9), (std::vector<uint32_t>{500, 4000, 60, 240, 25, 1, 0, 0, 0}));
  AnonymousSettings a;
  a.allow = 1;
  a.rights = 5;
  ASSERT_TRUE(a.setRootText("/srv/anon/"));
  EXPECT_FALSE(a.setRootText(std::string(263, 's')));
  std::vector<uint8_t> anon = a.pack();
  EXPECT_EQ(Words(anon, 0, 2), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(anon[8], 5);
  EXPECT_EQ(std::string(anon.begin() + 9, anon.begin() + 20), std::string("/srv/anon/\0", 11));
}

TEST(Settings, LoadFillsDefaultsKeepsMissingBlocksAndAppliesThePortRule) {
  RegistryStore store("unused");
  Settings s;
  s.ftpRootDir = "/old/";
  s.cache.dirCacheKB = 1;
  s.general.maxConnections = 7;
  LoadSettings(store, s);
  EXPECT_EQ(s.ftpRootDir, "");
  EXPECT_EQ(s.graphBkColor, 16777215u);
  EXPECT_EQ(s.cache, CacheSettings::Defaults());
  EXPECT_EQ(s.general.maxConnections, 7u);
  NetSettings net;
  net.port = 2121;
  WriteBlock(store, net);
  LoadSettings(store, s);
  EXPECT_EQ(s.net.port, 21u);  // without "Always use this port"
  net.alwaysUsePort = 1;
  WriteBlock(store, net);
  CacheSettings cache = CacheSettings::Defaults();
  cache.fileCacheKB = 9;
  store.setBinary(kSettingsKey, "CacheSettings", cache.pack(), ValueType::None);  // either byte type reads
  store.setBinary(kSettingsKey, "Anonymous", std::vector<uint8_t>(271, 1));       // a wrong size is missing
  LoadSettings(store, s);
  EXPECT_EQ(s.net.port, 2121u);
  EXPECT_EQ(s.cache.fileCacheKB, 9u);
  EXPECT_EQ(s.anonymous, AnonymousSettings{});
  store.setBinary(kSettingsKey, "WndRect", std::vector<uint8_t>(16, 9));  // what others keep there stays
  SaveSettings(store, s);
  EXPECT_EQ(store.getBinary(kSettingsKey, "WndRect"), std::vector<uint8_t>(16, 9));
}

struct Outcome {
  int status;
  std::string out, err;
};

Outcome Config(RegistryStore& store, std::vector<std::string> args) {
  std::ostringstream out, err;
  int status = RunConfigCommand(args, store, out, err);
  return {status, out.str(), err.str()};
}

class ConfigCommandTest : public ::testing::Test {
 protected:
  RegistryStore reloaded() const {
    RegistryStore again(store.file());
    EXPECT_TRUE(again.load());
    return again;
  }
  test::TempDir dir;
  RegistryStore store{dir.path() / "settings.reg"};
};

TEST_F(ConfigCommandTest, SetBlockFieldKeepsEveryOtherByteOfTheBlock) {
  std::vector<uint8_t> bytes(56);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0x80 + i);
  bytes[9] = 0;  // address "\x80...\x88", then bytes after its NUL
  store.setBinary(kSettingsKey, "NetSettings", bytes, ValueType::Binary);
  ASSERT_EQ(Config(store, {"set", "NetSettings.Port", "65535"}).status, 0);
  std::vector<uint8_t> expected = bytes;
  expected[32] = 0xff, expected[33] = 0xff, expected[34] = 0, expected[35] = 0;
  EXPECT_EQ(reloaded().getBinary(kSettingsKey, "NetSettings"), expected);
  EXPECT_EQ(reloaded().find(kSettingsKey, "NetSettings")->type, ValueType::None);
}

TEST_F(ConfigCommandTest, SetOnMissingBlocksStartsFromZeroOrCacheDefaults) {
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"CacheSettings.CacheFiles", "1"}, {"GeneralSettings.MaxConnections", "50"}, {"Anonymous.Rights", "rd"},
           {"Anonymous.Root", "/srv/anon/"}, {"FTPRootDir", "/srv/ftp"}})
    ASSERT_EQ(Config(store, {"set", name, value}).status, 0) << name;
  RegistryStore saved = reloaded();
  CacheSettings cache = CacheSettings::Defaults();
  cache.cacheFiles = 1;
  EXPECT_EQ(ReadBlock<CacheSettings>(saved), cache);
  EXPECT_EQ(ReadBlock<GeneralSettings>(saved)->maxConnections, 50u);
  EXPECT_EQ(ReadBlock<AnonymousSettings>(saved)->rights, 5);
  EXPECT_EQ(ReadBlock<AnonymousSettings>(saved)->rootText(), "/srv/anon/");
  EXPECT_EQ(Config(saved, {"get", "FTPRootDir"}).out, "/srv/ftp/\n");
}

TEST_F(ConfigCommandTest, EveryRefusalReportsAndLeavesStoreAndFileUnchanged) {
  ASSERT_EQ(Config(store, {"set", "EnableLog", "1"}).status, 0);
  ASSERT_EQ(Config(store, {"set", "PassivePortMax", "30000"}).status, 0);
  const std::string before = test::ReadFile(store.file());
  const std::vector<RegistryKey> keysBefore = store.keys();
  const std::string usage = "usage: config list | config get NAME | config set NAME VALUE\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{}, usage},
      {{"list", "extra"}, usage},
      {{"get"}, usage},
      {{"set", "EnableLog"}, usage},
      {{"remove", "EnableLog"}, usage},
      {{"get", "Nope"}, "config: unknown setting \"Nope\"\n"},
      {{"set", "enablelog", "1"}, "config: unknown setting \"enablelog\"\n"},
      {{"set", "EnableLog", "2"}, "config: invalid value for EnableLog: expected 0 or 1\n"},
      {{"set", "LoginFailDelaySeconds", "61"},
       "config: invalid value for LoginFailDelaySeconds: expected a number of seconds from 0 to 60\n"},
      {{"set", "LoginBanFailures", "1001"}, "config: invalid value for LoginBanFailures: expected a number from 0 to 1000\n"},
      {{"set", "LoginBanMinutes", "0"},
       "config: invalid value for LoginBanMinutes: expected a number of minutes from 1 to 10080\n"},
      {{"set", "EnableLog", ""}, "config: invalid value for EnableLog: expected 0 or 1\n"},
      {{"set", "GraphBkColor", "4294967296"},
       "config: invalid value for GraphBkColor: expected a number from 0 to 4294967295\n"},
      {{"set", "GraphBkColor", "0x10"}, "config: invalid value for GraphBkColor: expected a number from 0 to 4294967295\n"},
      {{"set", "NetSettings.Port", "0"}, "config: invalid value for NetSettings.Port: expected a port from 1 to 65535\n"},
      {{"set", "CacheSettings.OverflowPercent", "101"},
       "config: invalid value for CacheSettings.OverflowPercent: expected a number from 0 to 100\n"},
      {{"set", "Anonymous.Rights", "8"},
       "config: invalid value for Anonymous.Rights: expected 0 to 7 or letters from r, w, d\n"},
      {{"set", "NetSettings.Address", "256.0.0.1"},
       "config: invalid value for NetSettings.Address: expected a dotted IPv4 address or an empty text\n"},
      {{"set", "DefaultIP", "010.0.0.1"},
       "config: invalid value for DefaultIP: expected a dotted IPv4 address or an empty text\n"},
      {{"set", "Anonymous.Root", std::string(263, 'r')},
       "config: invalid value for Anonymous.Root: longer than 262 characters\n"},
      {{"set", "LogPath", "a\nb"}, "config: invalid value for LogPath: control characters are not allowed\n"},
      {{"set", "ListenIPv6", "2"}, "config: invalid value for ListenIPv6: expected 0 or 1\n"},
      {{"set", "PassivePortMin", "65536"},
       "config: invalid value for PassivePortMin: expected a port from 1 to 65535, or 0 for any\n"},
      {{"set", "PassivePortMin", "30001"},
       "config: invalid value for PassivePortMin: PassivePortMin is above PassivePortMax\n"},
      {{"set", "PassiveAddress", "::1"},
       "config: invalid value for PassiveAddress: expected a dotted IPv4 address or an empty text\n"},
      {{"set", "TlsMode", "3"}, "config: invalid value for TlsMode: expected 0 (off), 1 (allowed) or 2 (required)\n"},
      {{"set", "TlsKeyFile", "key.pem"},
       "config: invalid value for TlsKeyFile: expected an absolute path or an empty text\n"},
  };
  for (const Case& c : cases) {
    Outcome o = Config(store, c.args);
    EXPECT_EQ(o.status, 2) << c.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, c.err);
  }
  EXPECT_EQ(test::ReadFile(store.file()), before);
  EXPECT_EQ(store.keys(), keysBefore);
}

TEST_F(ConfigCommandTest, FailedSaveReturnsOneAndKeepsTheStoreInMemory) {
  dir.write("plain", "x");
  RegistryStore blocked(dir.path() / "plain" / "settings.reg");
  Outcome o = Config(blocked, {"set", "EnableLog", "1"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "config: cannot save " + blocked.file().string() + ": Not a directory\n");
  EXPECT_TRUE(blocked.keys().empty());
}

}  // namespace
}  // namespace talvek::settings
