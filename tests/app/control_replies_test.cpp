// The running daemon as real FTP clients see it: Python ftplib and curl.
// Exact replies of each command are pinned against the server core.
#include <gtest/gtest.h>
#include <signal.h>

#include "app/daemon_harness.h"

namespace talvek::test {
namespace {

TEST(RealClients, FtplibAndCurlGetTheRepliesAndTheDaemonServesTheNextClient) {
  Sandbox box;
  uint16_t port = box.prepareLoopback();
  Daemon daemon(box, {"--root", box.root().string(), "--port", std::to_string(port)});
  ASSERT_TRUE(daemon.waitListening(port)) << daemon.out() << daemon.err();
  // A HOME of the sandbox keeps the clients away from the user's rc files.
  auto shell = [&](const std::string& command) {
    return RunCommand("cd '" + box.path().string() + "' && HOME='" + (box.path() / "home").string() + "' " + command);
  };
  const std::string script =
      "import ftplib\n"
      "f = ftplib.FTP()\n"
      "f.connect('127.0.0.1', " + std::to_string(port) + ", timeout=5)\n"
      "print(f.getwelcome())\n"
      "for c in ('SYST', 'NOOP', 'TYPE I', 'MODE S', 'STRU F', 'HELP stat', 'STAT'):\n"
      "    print(f.sendcmd(c))\n"
      "try:\n"
      "    f.sendcmd('TYPE E')\n"
      "except ftplib.error_perm as e:\n"
      "    print(e)\n"
      "f.close()\n";
  CommandResult python = shell("timeout 20 python3 -c \"$(cat <<'PYEOF'\n" + script + "PYEOF\n)\"");
  EXPECT_EQ(python.status, 0) << python.output;
  EXPECT_EQ(python.output,
            "220 Service ready for new user\n215 UNIX\n200 Command OK\n200 Command OK\n200 Command OK\n"
            "200 Command OK\n214 STAT Transmit current server status information\n"
            "202 Command not implemented, superfluous on this server\n"
            "504 Command not implemented for that parameter\n");
  CommandResult curl = shell("timeout 20 curl -q -v -s --max-time 10 ftp://127.0.0.1:" + std::to_string(port) +
                             "/ -o /dev/null");
  EXPECT_NE(curl.output.find("< 220 Service ready for new user"), std::string::npos) << curl.output;
  EXPECT_NE(curl.status, 124) << "curl hung:\n" << curl.output;
  LineClient after;
  ASSERT_TRUE(after.connect(port));
  EXPECT_EQ(after.readReply(), kGreeting);
  EXPECT_EQ(after.ask("NOOP"), "200 Command OK");
  EXPECT_TRUE(daemon.running()) << daemon.err();
}

}  // namespace
}  // namespace talvek::test
