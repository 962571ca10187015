#include "settings/settings.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace talvek::settings {
namespace {

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | uint32_t{bytes[offset + 3]} << 24;
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  return bytes;
}

template <typename Block>
void ExpectLosslessAndSizeChecked() {
  std::vector<uint8_t> bytes = Pattern(Block::kSize);
  std::optional<Block> block = Block::unpack(bytes);
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->pack(), bytes);
  EXPECT_FALSE(Block::unpack(Pattern(Block::kSize - 1)).has_value());
  EXPECT_FALSE(Block::unpack(Pattern(Block::kSize + 1)).has_value());
}

TEST(SettingsBlocksTest, EveryBlockPacksBackEveryByteAndRefusesOtherSizes) {
  ExpectLosslessAndSizeChecked<GeneralSettings>();
  ExpectLosslessAndSizeChecked<NetSettings>();
  ExpectLosslessAndSizeChecked<CacheSettings>();
  ExpectLosslessAndSizeChecked<AnonymousSettings>();
}

TEST(SettingsBlocksTest, GeneralFieldsSitAtFourByteOffsetsInOrder) {
  GeneralSettings g;
  uint32_t* fields[] = {&g.recordFileLists, &g.monitorNew, &g.timeoutIdle, &g.limitPerAddress,
                        &g.filterEnabled, &g.runInBackground, &g.autoStart, &g.timeoutMinutes,
                        &g.maxConnections, &g.connectionsPerAddress, &g.refuseNew, &g.blockListed};
  for (uint32_t i = 0; i < 12; ++i) *fields[i] = 0x11223300 + i;
  std::vector<uint8_t> bytes = g.pack();
  ASSERT_EQ(bytes.size(), 48u);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[3], 0x11);
  for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(U32At(bytes, 4 * i), 0x11223300 + i);
}

TEST(SettingsBlocksTest, NetCacheAndAnonymousFieldsSitAtTheirOffsets) {
  NetSettings n;
  ASSERT_TRUE(n.setAddressText("192.168.1.20"));
  n.port = 2121, n.alwaysUsePort = 1, n.useAsDefault = 2, n.unused44 = 3, n.disablePasv = 4, n.unused52 = 5;
  std::vector<uint8_t> net = n.pack();
  ASSERT_EQ(net.size(), 56u);
  EXPECT_EQ(std::string(net.begin(), net.begin() + 13), std::string("192.168.1.20\0", 13));
  EXPECT_EQ((std::vector<uint32_t>{U32At(net, 32), U32At(net, 36), U32At(net, 40), U32At(net, 44),
                                   U32At(net, 48), U32At(net, 52)}),
            (std::vector<uint32_t>{2121, 1, 2, 3, 4, 5}));

  std::vector<uint8_t> cache = CacheSettings::Defaults().pack();
  ASSERT_EQ(cache.size(), 36u);
  std::vector<uint32_t> cacheFields;
  for (size_t offset = 0; offset < 36; offset += 4) cacheFields.push_back(U32At(cache, offset));
  EXPECT_EQ(cacheFields, (std::vector<uint32_t>{500, 4000, 60, 240, 25, 1, 0, 0, 0}));

  AnonymousSettings a;
  a.allow = 1;
  a.rights = 5;
  ASSERT_TRUE(a.setRootText("/srv/anon/"));
  std::vector<uint8_t> anon = a.pack();
  ASSERT_EQ(anon.size(), 272u);
  EXPECT_EQ(U32At(anon, 0), 0u);
  EXPECT_EQ(U32At(anon, 4), 1u);
  EXPECT_EQ(anon[8], 5);
  EXPECT_EQ(std::string(anon.begin() + 9, anon.begin() + 20), std::string("/srv/anon/\0", 11));
}

TEST(SettingsBlocksTest, TextsStopAtTheirRoomAndReadUpToTheNul) {
  NetSettings n;
  EXPECT_TRUE(n.setAddressText(std::string(31, '1')));
  EXPECT_FALSE(n.setAddressText(std::string(32, '2')));
  EXPECT_EQ(n.addressText(), std::string(31, '1'));
  AnonymousSettings a;
  EXPECT_TRUE(a.setRootText(std::string(262, 'r')));
  EXPECT_FALSE(a.setRootText(std::string(263, 's')));
  EXPECT_EQ(a.rootText(), std::string(262, 'r'));
  // Bytes after the NUL are not part of the text.
  std::vector<uint8_t> bytes(56, 'x');
  bytes[3] = 0;
  EXPECT_EQ(NetSettings::unpack(bytes)->addressText(), "xxx");
}

TEST(LoadSettingsTest, MissingValuesGiveDefaultsAndMissingBlocksStayAsTheyWere) {
  RegistryStore store("unused");
  Settings s;
  s.ftpRootDir = "/old/";
  s.graphBkColor = 5;
  s.cache.dirCacheKB = 1;
  s.general.maxConnections = 7;
  s.anonymous.allow = 1;
  s.net.port = 2121;
  LoadSettings(store, s);
  EXPECT_EQ(s.ftpRootDir, "");
  EXPECT_EQ(s.graphBkColor, 16777215u);
  EXPECT_EQ(s.cache, CacheSettings::Defaults());
  EXPECT_EQ(s.general.maxConnections, 7u);
  EXPECT_EQ(s.anonymous.allow, 1u);
  EXPECT_EQ(s.net.port, 21u);  // no "Always use this port"
}

TEST(LoadSettingsTest, StoredPortCountsOnlyWithAlwaysUsePort) {
  RegistryStore store("unused");
  NetSettings net;
  net.port = 2121;
  WriteBlock(store, net);
  Settings s;
  LoadSettings(store, s);
  EXPECT_EQ(s.net.port, 21u);
  net.alwaysUsePort = 1;
  WriteBlock(store, net);
  LoadSettings(store, s);
  EXPECT_EQ(s.net.port, 2121u);
}

TEST(LoadSettingsTest, BlocksOfEitherByteTypeAreReadAndWrongSizesCountAsMissing) {
  RegistryStore store("unused");
  CacheSettings cache = CacheSettings::Defaults();
  cache.fileCacheKB = 9;
  GeneralSettings general;
  general.maxConnections = 50;
  store.setBinary(kSettingsKey, "CacheSettings", cache.pack(), ValueType::None);
  store.setBinary(kSettingsKey, "GeneralSettings", general.pack(), ValueType::Binary);
  store.setBinary(kSettingsKey, "Anonymous", std::vector<uint8_t>(271, 1));
  Settings s;
  LoadSettings(store, s);
  EXPECT_EQ(s.cache.fileCacheKB, 9u);
  EXPECT_EQ(s.general.maxConnections, 50u);
  EXPECT_EQ(s.anonymous, AnonymousSettings{});

  store.setBinary(kSettingsKey, "CacheSettings", std::vector<uint8_t>(35, 1));
  store.setDword(kSettingsKey, "GeneralSettings", 1);
  LoadSettings(store, s);
  EXPECT_EQ(s.cache, CacheSettings::Defaults());
  EXPECT_EQ(s.general.maxConnections, 50u);
}

TEST(SaveSettingsTest, WritesInOrderWithBlockTypesAndKeepsOtherValues) {
  RegistryStore store("unused");
  store.setBinary(kSettingsKey, "WndRect", Pattern(16));
  Settings s;
  s.ftpRootDir = "/srv/ftp/";
  s.general.maxConnections = 50;
  s.net.alwaysUsePort = 1;
  s.net.port = 2121;
  s.anonymous.rights = 3;
  SaveSettings(store, s);
  std::vector<std::string> names;
  for (const RegistryValue& v : store.keys().at(0).values) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"WndRect", "FTPRootDir", "UploadsDir", "LogPath", "MsgFilePath",
                                             "LogonFile", "RedirUploads", "SendLogonMsg", "EnableLog",
                                             "GraphBkColor", "GraphForeColor", "LoginFailDelaySeconds", "LoginBanFailures",
                                             "LoginBanWindowMinutes", "LoginBanMinutes", "CacheSettings", "Anonymous",
                                             "GeneralSettings", "NetSettings"}));
  EXPECT_EQ(store.find(kSettingsKey, "GeneralSettings")->type, ValueType::None);
  EXPECT_EQ(store.find(kSettingsKey, "NetSettings")->type, ValueType::None);
  EXPECT_EQ(store.find(kSettingsKey, "CacheSettings")->type, ValueType::Binary);
  EXPECT_EQ(store.find(kSettingsKey, "Anonymous")->type, ValueType::Binary);
  EXPECT_EQ(store.getBinary(kSettingsKey, "WndRect"), Pattern(16));

  Settings back;
  LoadSettings(store, back);
  EXPECT_EQ(back.ftpRootDir, "/srv/ftp/");
  EXPECT_EQ(back.general, s.general);
  EXPECT_EQ(back.net, s.net);
  EXPECT_EQ(back.anonymous, s.anonymous);
}

TEST(SettingsValuesTest, DefaultIpNewInstallAndTrailingSlash) {
  RegistryStore store("unused");
  EXPECT_EQ(ReadDefaultIp(store), "");
  EXPECT_EQ(ReadNewInstall(store), 1u);
  WriteDefaultIp(store, "127.0.0.1");
  WriteNewInstall(store, 0);
  EXPECT_EQ(ReadDefaultIp(store), "127.0.0.1");
  EXPECT_EQ(ReadNewInstall(store), 0u);
  EXPECT_EQ(WithTrailingSlash(""), "");
  EXPECT_EQ(WithTrailingSlash("/srv/ftp"), "/srv/ftp/");
  EXPECT_EQ(WithTrailingSlash("/srv/ftp/"), "/srv/ftp/");
}

}  // namespace
}  // namespace talvek::settings
