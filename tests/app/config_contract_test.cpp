// `talvek-ftpd config list` on a never-started settings file: the shipped
// defaults are imported and saved once.
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

}  // namespace
}  // namespace talvek::test
