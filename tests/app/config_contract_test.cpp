// `talvek-ftpd config list` on a never-started settings file: every name of
// the command, with the shipped defaults imported and saved once.
#include <gtest/gtest.h>

#include "app/daemon_harness.h"

namespace talvek::test {
namespace {

TEST(DaemonConfig, ListOnNeverStartedFileShowsEveryNameWithTheShippedDefaults) {
  Sandbox box;
  ASSERT_FALSE(std::filesystem::exists(box.settingsFile()));
  RunResult listed = box.config({"list"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.err, "");
  EXPECT_EQ(listed.out,
            "FTPRootDir=\nUploadsDir=\nLogPath=\nMsgFilePath=\nLogonFile=\nDefaultIP=\nRedirUploads=0\n"
            "SendLogonMsg=0\nEnableLog=0\nGraphBkColor=16777215\nGraphForeColor=0\nNewInstall=0\n"
            "LoginFailDelaySeconds=0\nLoginBanFailures=0\nLoginBanWindowMinutes=10\nLoginBanMinutes=30\n"
            "ListenIPv6=1\nPassivePortMin=0\nPassivePortMax=0\nPassiveAddress=\n"
            "GeneralSettings.RecordFileLists=1\nGeneralSettings.MonitorNew=0\nGeneralSettings.TimeoutIdle=1\n"
            "GeneralSettings.LimitPerAddress=1\nGeneralSettings.FilterEnabled=0\nGeneralSettings.RunInBackground=0\n"
            "GeneralSettings.AutoStart=1\nGeneralSettings.TimeoutMinutes=15\nGeneralSettings.MaxConnections=50\n"
            "GeneralSettings.ConnectionsPerAddress=10\nGeneralSettings.RefuseNew=1\nGeneralSettings.BlockListed=1\n"
            "NetSettings.Address=\nNetSettings.Port=2121\nNetSettings.AlwaysUsePort=1\nNetSettings.UseAsDefault=0\n"
            "NetSettings.DisablePASV=0\nCacheSettings.DirCacheKB=500\nCacheSettings.FileCacheKB=4000\n"
            "CacheSettings.DirRefreshMinutes=60\nCacheSettings.FileRefreshMinutes=240\n"
            "CacheSettings.OverflowPercent=25\nCacheSettings.CacheDirs=1\nCacheSettings.CacheFiles=1\n"
            "CacheSettings.AutoRefreshDirs=0\nCacheSettings.AutoRefreshFiles=0\nAnonymous.Allow=1\n"
            "Anonymous.Rights=1\nAnonymous.Root=\n");
  // The import was saved: a second reader sees it without importing again.
  EXPECT_NE(box.settingsText().find("\"NewInstall\"=dword:00000000"), std::string::npos);
  EXPECT_EQ(box.get("GeneralSettings.MaxConnections"), "50");
}

}  // namespace
}  // namespace talvek::test
