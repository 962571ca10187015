// Real FTP clients against the server over loopback, as one matrix: each
// row runs a client and compares what it moved byte for byte.
#include <fstream>
#include <map>

#include "transfer_fixture.h"

namespace talvek::test {
namespace {

namespace fs = std::filesystem;

// A tree of 300 files: empty, one byte, small and a few of several MiB.
void MakeTree(const fs::path& base) {
  for (int i = 0; i < 300; ++i) {
    size_t size = i % 50 == 0 ? 0 : i % 50 == 1 ? 1 : i % 100 == 7 ? (3u << 20) + i : static_cast<size_t>(i * 37);
    auto path = base / ("d" + std::to_string(i % 6)) / ("sub" + std::to_string(i % 3)) / ("f" + std::to_string(i));
    fs::create_directories(path.parent_path());
    WriteFile(path, Pattern(size, static_cast<unsigned>(i)));
  }
}

// The regular files at or below `top`, by relative name.
std::map<std::string, std::string> Files(const fs::path& top) {
  std::map<std::string, std::string> all;
  if (fs::is_regular_file(top)) all["."] = ReadFile(top);
  if (fs::is_directory(top))
    for (const auto& entry : fs::recursive_directory_iterator(top))
      if (entry.is_regular_file()) all[fs::relative(entry.path(), top)] = ReadFile(entry.path());
  return all;
}

const char kFtplibScript[] = R"PY(
import ftplib, io, sys
ftp = ftplib.FTP()
ftp.connect('127.0.0.1', int(sys.argv[1]), timeout=20)
ftp.login('client', 'pw')
def get(command, **options):
    out = []
    ftp.retrbinary(command, out.append, **options)
    return b''.join(out)
assert get('RETR small.txt', rest=4) == b'456789'
ftp.storbinary('APPE small.txt', io.BytesIO(b'abc'))
assert get('RETR small.txt') == b'0123456789abc'
reply = ftp.storbinary('STOU', io.BytesIO(b'unique'))
assert reply.startswith('250 Requested file action okay, completed. '), reply
assert get('RETR ' + reply.split(' ')[-1]) == b'unique'
conn = ftp.transfercmd('RETR big.bin')
conn.recv(65536)
reply = ftp.abort()
assert reply == '226 Closing data connection. Requested file action successful.', reply
conn.close()
assert ftp.voidcmd('NOOP') == '200 Command OK'
ftp.storbinary('STOR small.txt', io.BytesIO(b'RESUMED'), rest=6)
assert get('RETR small.txt') == b'012345RESUMED' and ftp.size('small.txt') == 13
facts = dict(ftp.mlsd('dots', ['type', 'size']))
assert facts == {'.file.txt': {'type': 'file', 'size': '3'}}, facts
assert ftp.quit().startswith('221 ')
print('ok')
)PY";

// The clients log in as a user whose home is the FTP root.
TEST_F(TransferTest, RealClientsMoveEveryByteInBothModes) {
  accounts::AccountRecord user;
  user.name = "client";
  user.password = "pw";
  user.homeDir = root_.dir();
  user.permissions = accounts::kRead | accounts::kWrite | accounts::kDelete;
  fixture_.server().accounts().append(user);
  TempDir local;
  std::string content = Pattern(3 << 20, 1), port = std::to_string(fixture_.port());
  root_.write("dir/file.bin", content);
  root_.write("dots/.file.txt", "dot");
  root_.write("big.bin", Pattern(40 << 20, 5));
  root_.write("small.txt", "0123456789");
  MakeTree(root_.path() / "tree");
  local.write("up.bin", Pattern(2 << 20, 2));
  local.write("resume.bin", Pattern(2 << 20, 2).substr(0, 12345));
  local.write("client.py", kFtplibScript);
  const std::string curl = "curl -sS --max-time 20 ", url = "ftp://client:pw@127.0.0.1:" + port + "/",
                    url6 = "-g ftp://client:pw@[::1]:" + port + "/",
                    lftp = "lftp -c 'set cmd:fail-exit yes; set net:max-retries 1; set net:timeout 10; "
                           "open -u client,pw -p " + port + " 127.0.0.1; ";
  struct Run {
    std::string command, remote, local;  // the files or trees at remote and local must match
    std::string output = "";
  };
  for (const Run& run : std::initializer_list<Run>{
           {curl + "-o p.bin " + url + "dir/file.bin", "dir/file.bin", "p.bin"},
           {curl + "-P 127.0.0.1 -o a.bin " + url + "dir/file.bin", "dir/file.bin", "a.bin"},
           {curl + "-l " + url + "dir/", "", "", "file.bin\n"},
           {curl + url6 + "dir/", "", "", " file.bin\n"},
           {curl + "-o p6.bin " + url6 + "dir/file.bin", "dir/file.bin", "p6.bin"},
           {curl + "-P - -o a6.bin " + url6 + "dir/file.bin", "dir/file.bin", "a6.bin"},
           {curl + "-T up.bin " + url + "up.bin", "up.bin", "up.bin"},
           {curl + "-C - -o resume.bin " + url + "up.bin", "up.bin", "resume.bin"},
           {lftp + "mirror tree copy'", "tree", "copy"},
           {lftp + "mirror -R copy back'", "back", "copy"},
           {"python3 client.py " + port, "", "", "ok\n"}}) {
    SCOPED_TRACE(run.command);
    auto result = RunCommand("cd " + local.dir() + " && timeout 120 " + run.command);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find(run.output), std::string::npos) << result.output;
    if (run.remote.empty()) continue;
    auto remote = Files(root_.path() / run.remote), copy = Files(local.path() / run.local);
    EXPECT_FALSE(remote.empty());
    EXPECT_TRUE(remote == copy) << remote.size() << " files against " << copy.size();
  }
}

}  // namespace
}  // namespace talvek::test
