#include "settings/settings.h"

#include <gtest/gtest.h>

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
}

TEST(Settings, SaveWritesEveryValueInOrderWithBlockTypesAndKeepsOtherValues) {
  RegistryStore store("unused");
  store.setBinary(kSettingsKey, "WndRect", std::vector<uint8_t>(16, 9));
  SaveSettings(store, Settings{});
  std::string written;
  for (const RegistryValue& v : store.keys().at(0).values) written += v.name + ":" + std::to_string(int(v.type)) + " ";
  EXPECT_EQ(written,
            "WndRect:3 FTPRootDir:1 UploadsDir:1 LogPath:1 MsgFilePath:1 LogonFile:1 RedirUploads:4 SendLogonMsg:4 "
            "EnableLog:4 GraphBkColor:4 GraphForeColor:4 LoginFailDelaySeconds:4 LoginBanFailures:4 LoginBanWindowMinutes:4 LoginBanMinutes:4 "
            "ListenIPv6:4 PassivePortMin:4 PassivePortMax:4 PassiveAddress:1 CacheSettings:3 Anonymous:3 GeneralSettings:0 NetSettings:0 ");
}

}  // namespace
}  // namespace talvek::settings
