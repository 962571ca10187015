// Real FTP clients against the server over loopback, in both modes.
#include <fstream>

#include "transfer_fixture.h"

namespace talvek::test {
namespace {

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 197 + seed * 31 + i / 509) & 0xff);
  return bytes;
}

// The clients log in as a user whose home is the FTP root and whose uploads
// land where they are sent.
class ClientsTest : public TransferTest {
 protected:
  ClientsTest() {
    accounts::AccountRecord user;
    user.name = "client";
    user.password = "pw";
    user.homeDir = root_.dir();
    user.permissions = accounts::kRead | accounts::kWrite | accounts::kDelete;
    fixture_.server().accounts().append(user);
  }
  std::string url(const std::string& path = "", const std::string& host = "127.0.0.1") const {
    return "ftp://client:pw@" + host + ":" + std::to_string(fixture_.port()) + "/" + path;
  }
  // Runs lftp commands on a session, from the local directory.
  CommandResult lftp(const std::string& commands) {
    local_.write("commands.lftp", "set cmd:fail-exit yes\nset net:max-retries 1\nset net:timeout 10\n"
                                  "open -u client,pw -p " + std::to_string(fixture_.port()) +
                                  " 127.0.0.1\n" + commands + "\nquit\n");
    return RunCommand("cd " + local_.dir() + " && timeout 120 lftp -f commands.lftp");
  }
  TempDir local_;
};

TEST_F(ClientsTest, CurlDownloadsInPassiveAndActiveModeAndLists) {
  std::string content = Pattern(3 << 20, 1);
  root_.write("dir/file.bin", content);
  auto passive = RunCommand("curl -sS --max-time 20 -o " + local_.dir() + "p.bin " + url("dir/file.bin"));
  ASSERT_EQ(passive.status, 0) << passive.output;
  EXPECT_TRUE(local_.read("p.bin") == content) << "p.bin differs";
  auto active = RunCommand("curl -sS --max-time 20 -P 127.0.0.1 -o " + local_.dir() + "a.bin " + url("dir/file.bin"));
  ASSERT_EQ(active.status, 0) << active.output;
  EXPECT_TRUE(local_.read("a.bin") == content) << "a.bin differs";
  auto names = RunCommand("curl -sS --max-time 20 -l " + url("dir/"));
  EXPECT_EQ(names.output.find("file.bin\n") != std::string::npos, true) << names.output;
}

TEST_F(ClientsTest, CurlListsAndDownloadsOverIpv6InBothModes) {
  std::string content = Pattern(1 << 20, 3);
  root_.write("dir/file.bin", content);
  auto names = RunCommand("curl -sS -g --max-time 20 " + url("dir/", "[::1]"));
  EXPECT_NE(names.output.find(" file.bin\n"), std::string::npos) << names.output;
  for (std::string mode : {"", "-P - "}) {
    auto got = RunCommand("curl -sS -g --max-time 20 " + mode + "-o " + local_.dir() + "v6.bin " +
                          url("dir/file.bin", "[::1]"));
    ASSERT_EQ(got.status, 0) << mode << got.output;
    EXPECT_TRUE(local_.read("v6.bin") == content) << mode << "v6.bin differs";
  }
}

TEST_F(ClientsTest, CurlUploadsAndResumesADownload) {
  std::string content = Pattern(2 << 20, 2);
  local_.write("up.bin", content);
  auto upload = RunCommand("curl -sS --max-time 20 -T " + local_.dir() + "up.bin " + url("up.bin"));
  ASSERT_EQ(upload.status, 0) << upload.output;
  EXPECT_TRUE(root_.read("up.bin") == content) << "the upload differs";
  local_.write("resume.bin", content.substr(0, 12345));
  auto resume = RunCommand("curl -sS --max-time 20 -C - -o " + local_.dir() + "resume.bin " + url("up.bin"));
  ASSERT_EQ(resume.status, 0) << resume.output;
  EXPECT_TRUE(local_.read("resume.bin") == content) << "resume.bin differs";
}

// A tree of 300 files: empty, one byte, small and a few of several MiB.
void MakeTree(const std::filesystem::path& base) {
  for (int i = 0; i < 300; ++i) {
    size_t size = i % 50 == 0 ? 0 : i % 50 == 1 ? 1 : i % 100 == 7 ? (3u << 20) + i : static_cast<size_t>(i * 37);
    auto path = base / ("d" + std::to_string(i % 6)) / ("sub" + std::to_string(i % 3)) / ("f" + std::to_string(i));
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path, Pattern(size, static_cast<unsigned>(i)));
  }
}

bool SameTree(const std::filesystem::path& a, const std::filesystem::path& b, std::string& difference) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(a)) {
    auto relative = std::filesystem::relative(entry.path(), a);
    if (!entry.is_regular_file()) continue;
    ++files;
    if (!std::filesystem::exists(b / relative) || ReadFile(entry.path()) != ReadFile(b / relative)) {
      difference = relative.string();
      return false;
    }
  }
  size_t other = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(b))
    if (entry.is_regular_file()) ++other;
  if (other != files) difference = "file count " + std::to_string(files) + " vs " + std::to_string(other);
  return other == files;
}

TEST_F(ClientsTest, LftpMirrorsATreeDownAndUpByteForByte) {
  MakeTree(root_.path() / "tree");
  auto down = lftp("mirror tree copy");
  ASSERT_EQ(down.status, 0) << down.output;
  std::string difference;
  EXPECT_TRUE(SameTree(root_.path() / "tree", local_.path() / "copy", difference)) << difference;

  auto up = lftp("mirror -R copy back");
  ASSERT_EQ(up.status, 0) << up.output;
  EXPECT_TRUE(SameTree(local_.path() / "copy", root_.path() / "back", difference))
      << difference;
}

TEST_F(ClientsTest, PythonFtplibRestAppeStouAborListingsAndQuit) {
  std::string content = Pattern(40 << 20, 5);
  root_.write("big.bin", content);
  root_.write("small.txt", "0123456789");
  root_.write("dir/.file.txt", "dot");
  std::string script = local_.dir() + "client.py";
  std::ofstream(script) << R"PY(
import ftplib, sys
port = int(sys.argv[1])
ftp = ftplib.FTP()
ftp.connect('127.0.0.1', port, timeout=20)
ftp.login('client', 'pw')
out = []
ftp.retrbinary('RETR small.txt', out.append, rest=4)
assert b''.join(out) == b'456789', out
import io
ftp.storbinary('APPE small.txt', io.BytesIO(b'abc'))
out = []
ftp.retrbinary('RETR small.txt', out.append)
assert b''.join(out) == b'0123456789abc', out
reply = ftp.storbinary('STOU', io.BytesIO(b'unique'))
assert reply.startswith('250 Requested file action okay, completed. '), reply
name = reply.split(' ')[-1]
out = []
ftp.retrbinary('RETR ' + name, out.append)
assert b''.join(out) == b'unique'
conn = ftp.transfercmd('RETR big.bin')
conn.recv(65536)
reply = ftp.abort()
assert reply == '226 Closing data connection. Requested file action successful.', reply
conn.close()
assert ftp.voidcmd('NOOP') == '200 Command OK'
ftp.storbinary('STOR small.txt', io.BytesIO(b'RESUMED'), rest=6)
out = []
ftp.retrbinary('RETR small.txt', out.append)
assert b''.join(out) == b'012345RESUMED' and ftp.size('small.txt') == 13, out
lines = []
ftp.dir('-la dir', lines.append)
assert sorted(line.split()[-1] for line in lines) == ['.', '..', '.file.txt'], lines
assert sorted(ftp.nlst('dir')) == ['.', '..', '.file.txt']
facts = dict(ftp.mlsd('dir', ['type', 'size']))
assert facts == {'.file.txt': {'type': 'file', 'size': '3'}}, facts
assert ftp.quit().startswith('221 ')
print('ok')
)PY";
  auto result = RunCommand("timeout 60 python3 " + script + " " + std::to_string(fixture_.port()));
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(result.output, "ok\n");
}

}  // namespace
}  // namespace talvek::test
