// `talvek-ftpd config list | get | set` as an operator uses it: the
// first-start import on a never-started file, exit status 2 with a message
// on stderr for every refusal, and a settings file left byte for byte as it was.
#include <gtest/gtest.h>

#include "app/daemon_harness.h"

namespace talvek::test {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DaemonConfig, ListOnNeverStartedFileImportsShippedDefaultsAndClearsNewInstall) {
  Sandbox box;
  ASSERT_FALSE(std::filesystem::exists(box.settingsFile()));
  RunResult listed = box.config({"list"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.err, "");
  for (const char* line : {"NewInstall=0\n", "EnableLog=0\n", "GeneralSettings.MaxConnections=50\n",
                           "GeneralSettings.ConnectionsPerAddress=10\n", "NetSettings.Port=2121\n",
                           "NetSettings.AlwaysUsePort=1\n", "Anonymous.Allow=1\n", "Anonymous.Rights=1\n",
                           "FTPRootDir=\n", "LogonFile=\n"})
    EXPECT_TRUE(Contains(listed.out, line)) << line << " missing from:\n" << listed.out;
  // The import was saved: a second reader sees it without importing again.
  EXPECT_TRUE(std::filesystem::exists(box.settingsFile()));
  EXPECT_TRUE(Contains(box.settingsText(), "\"NewInstall\"=dword:00000000"));
  EXPECT_EQ(box.get("GeneralSettings.MaxConnections"), "50");
}

TEST(DaemonConfig, ListShowsEveryNameOfTheContractOncePerLine) {
  Sandbox box;
  RunResult listed = box.config({"list"});
  ASSERT_EQ(listed.status, 0);
  const std::vector<std::string> names{
      "FTPRootDir", "UploadsDir", "LogPath", "MsgFilePath", "LogonFile", "DefaultIP", "RedirUploads",
      "SendLogonMsg", "EnableLog", "GraphBkColor", "GraphForeColor", "NewInstall",
      "LoginFailDelaySeconds", "LoginBanFailures", "LoginBanWindowMinutes", "LoginBanMinutes",
      "GeneralSettings.RecordFileLists", "GeneralSettings.MonitorNew", "GeneralSettings.TimeoutIdle",
      "GeneralSettings.LimitPerAddress", "GeneralSettings.FilterEnabled", "GeneralSettings.RunInBackground",
      "GeneralSettings.AutoStart", "GeneralSettings.TimeoutMinutes", "GeneralSettings.MaxConnections",
      "GeneralSettings.ConnectionsPerAddress", "GeneralSettings.RefuseNew", "GeneralSettings.BlockListed",
      "NetSettings.Address", "NetSettings.Port", "NetSettings.AlwaysUsePort", "NetSettings.UseAsDefault",
      "NetSettings.DisablePASV", "CacheSettings.DirCacheKB", "CacheSettings.FileCacheKB",
      "CacheSettings.DirRefreshMinutes", "CacheSettings.FileRefreshMinutes", "CacheSettings.OverflowPercent",
      "CacheSettings.CacheDirs", "CacheSettings.CacheFiles", "CacheSettings.AutoRefreshDirs",
      "CacheSettings.AutoRefreshFiles", "Anonymous.Allow", "Anonymous.Rights", "Anonymous.Root"};
  size_t lines = 0;
  for (char c : listed.out) lines += c == '\n';
  EXPECT_EQ(lines, names.size());
  for (const auto& name : names) {
    EXPECT_TRUE(listed.out.compare(0, name.size() + 1, name + "=") == 0 || Contains(listed.out, "\n" + name + "="))
        << name;
    EXPECT_NE(box.get(name), "<failed>") << name;
  }
}

struct Refusal {
  std::vector<std::string> args;
  std::string err;
};

class DaemonConfigRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(DaemonConfigRefusal, ExitsTwoWithMessageAndLeavesFileByteIdentical) {
  Sandbox box;
  ASSERT_EQ(box.config({"set", "GeneralSettings.MaxConnections", "9"}).status, 0);
  const std::string before = box.settingsText();
  ASSERT_FALSE(before.empty());
  RunResult refused = box.config(GetParam().args);
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, GetParam().err);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(box.settingsText(), before);
}

INSTANTIATE_TEST_SUITE_P(
    UnknownNamesAndMalformedValues, DaemonConfigRefusal,
    ::testing::Values(
        Refusal{{"get", "Bogus"}, "config: unknown setting \"Bogus\"\n"},
        Refusal{{"set", "Bogus", "1"}, "config: unknown setting \"Bogus\"\n"},
        Refusal{{"get", "GeneralSettings"}, "config: unknown setting \"GeneralSettings\"\n"},
        Refusal{{"get", "ftprootdir"}, "config: unknown setting \"ftprootdir\"\n"},
        Refusal{{"set", "NetSettings.Port", "0"},
                "config: invalid value for NetSettings.Port: expected a port from 1 to 65535\n"},
        Refusal{{"set", "NetSettings.Port", "65536"},
                "config: invalid value for NetSettings.Port: expected a port from 1 to 65535\n"},
        Refusal{{"set", "NetSettings.Port", "21x"},
                "config: invalid value for NetSettings.Port: expected a port from 1 to 65535\n"},
        Refusal{{"set", "GeneralSettings.AutoStart", "2"},
                "config: invalid value for GeneralSettings.AutoStart: expected 0 or 1\n"},
        Refusal{{"set", "GeneralSettings.MaxConnections", "-1"},
                "config: invalid value for GeneralSettings.MaxConnections: expected a number from 0 to 4294967295\n"},
        Refusal{{"set", "GeneralSettings.MaxConnections", "4294967296"},
                "config: invalid value for GeneralSettings.MaxConnections: expected a number from 0 to 4294967295\n"},
        Refusal{{"set", "CacheSettings.OverflowPercent", "101"},
                "config: invalid value for CacheSettings.OverflowPercent: expected a number from 0 to 100\n"},
        Refusal{{"set", "DefaultIP", "256.0.0.1"},
                "config: invalid value for DefaultIP: expected a dotted IPv4 address or an empty text\n"},
        Refusal{{"set", "NetSettings.Port"}, "usage: config list | config get NAME | config set NAME VALUE\n"},
        Refusal{{"get"}, "usage: config list | config get NAME | config set NAME VALUE\n"},
        Refusal{{}, "usage: config list | config get NAME | config set NAME VALUE\n"},
        Refusal{{"list", "extra"}, "usage: config list | config get NAME | config set NAME VALUE\n"}));

}  // namespace
}  // namespace talvek::test
