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

// python3 client.py PORT HOST [tls]: ftplib, in clear text or with FTP_TLS and PROT P.
const char kFtplibScript[] = R"PY(
import ftplib, io, ssl, sys
context = ssl.create_default_context()
context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
ftp = ftplib.FTP_TLS(context=context) if sys.argv[3:] == ['tls'] else ftplib.FTP()
ftp.connect(sys.argv[2], int(sys.argv[1]), timeout=20)
ftp.login('client', 'pw')
if sys.argv[3:] == ['tls']:
    assert ftp.prot_p() == '200 Protection level set to Private'
ftp.storbinary('STOR small.txt', io.BytesIO(b'0123456789'))
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
ftp.set_pasv(False)  # active mode: the server connects, and is the TLS server all the same
assert get('RETR small.txt') == b'0123456789abc'
ftp.set_pasv(True)
ftp.storbinary('STOR small.txt', io.BytesIO(b'RESUMED'), rest=6)
assert get('RETR small.txt') == b'012345RESUMED' and ftp.size('small.txt') == 13
facts = dict(ftp.mlsd('dots', ['type', 'size']))
assert facts == {'.file.txt': {'type': 'file', 'size': '3'}}, facts
assert ftp.quit().startswith('221 ')
print('ok')
)PY";

// What each row of a matrix runs and what must come of it.
struct ClientRun {
  std::string command, remote, local;  // the files or trees at remote and local must match
  std::string output = "";
  bool fails = false;  // the client must fail, with `output` in what it says
};

class ClientsTest : public TransferTest {
 protected:
  explicit ClientsTest(const std::function<void(settings::Settings&)>& adjust = {}) : TransferTest(adjust) {
    // The clients log in as a user whose home is the FTP root.
    accounts::AccountRecord user;
    user.name = "client";
    user.password = "pw";
    user.homeDir = root_.dir();
    user.permissions = accounts::kRead | accounts::kWrite | accounts::kDelete;
    fixture_.server().accounts().append(user);
    local_.write("client.py", kFtplibScript);
  }
  void runAll(std::initializer_list<ClientRun> runs) {
    for (const ClientRun& run : runs) {
      SCOPED_TRACE(run.command);
      auto result = RunCommand("cd " + local_.dir() + " && timeout 120 " + run.command);
      ASSERT_EQ(result.status != 0, run.fails) << result.output << fixture_.view().monitor();
      EXPECT_NE(result.output.find(run.output), std::string::npos) << result.output;
      if (run.remote.empty()) continue;
      auto remote = Files(root_.path() / run.remote), copy = Files(local_.path() / run.local);
      EXPECT_FALSE(remote.empty());
      EXPECT_TRUE(remote == copy) << remote.size() << " files against " << copy.size();
    }
  }
  TempDir local_;
  const std::string port_ = std::to_string(fixture_.port()), curl_ = "curl -sS --max-time 20 ",
                    tls_ = "--ssl-reqd -k ", url_ = "ftp://client:pw@127.0.0.1:" + port_ + "/",
                    url6_ = "-g ftp://client:pw@[::1]:" + port_ + "/",
                    lftp_ = "lftp -c 'set cmd:fail-exit yes; set net:max-retries 1; set net:timeout 10; ",
                    open_ = "open -u client,pw -p " + port_ + " 127.0.0.1; ",
                    lftp_tls_ = "set ftp:ssl-force true; set ssl:verify-certificate no; ";
};

// In clear text and over TLS (PROT P), over IPv4 and IPv6.
TEST_F(ClientsTest, RealClientsMoveEveryByteInBothModes) {
  TempDir& local = local_;
  std::string content = Pattern(3 << 20, 1), port = std::to_string(fixture_.port());
  root_.write("dir/file.bin", content);
  root_.write("dots/.file.txt", "dot");
  root_.write("big.bin", Pattern(40 << 20, 5));
  root_.write("small.txt", "0123456789");
  MakeTree(root_.path() / "tree");
  local.write("up.bin", Pattern(2 << 20, 2));
  local.write("resume.bin", Pattern(2 << 20, 2).substr(0, 12345));
  local.write("tresume.bin", Pattern(2 << 20, 2).substr(0, 54321));
  root_.write("tpart.bin", Pattern(2 << 20, 2).substr(0, 99999));
  const std::string curl = curl_, url = url_, url6 = url6_, lftp = lftp_ + "set ftp:ssl-allow no; " + open_, tls = curl_ + tls_;
  runAll({
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
           {"python3 client.py " + port + " 127.0.0.1", "", "", "ok\n"},
           {tls + "-l " + url + "dir/", "", "", "file.bin\n"},
           {tls + "-o t.bin " + url + "dir/file.bin", "dir/file.bin", "t.bin"},
           {tls + "-o t6.bin " + url6 + "dir/file.bin", "dir/file.bin", "t6.bin"},
           {tls + "-T up.bin " + url + "tup.bin", "tup.bin", "up.bin"},
           {tls + "-C - -o tresume.bin " + url + "tup.bin", "tup.bin", "tresume.bin"},
           {tls + "-C - -T up.bin " + url + "tpart.bin", "tpart.bin", "up.bin"},
           {lftp_ + lftp_tls_ + open_ + "mirror tree tcopy'", "tree", "tcopy"},
           {"python3 client.py " + port + " 127.0.0.1 tls", "", "", "ok\n"},
           {"python3 client.py " + port + " ::1 tls", "", "", "ok\n"}});
}

// python3 policy.py PORT against TlsMode 2 with TlsRequireSessionReuse 1:
// the refusals, bytes pipelined after AUTH TLS, garbage instead of a handshake.
const char kPolicyScript[] = R"PY(
import ftplib, socket, ssl, sys
port = int(sys.argv[1])
context = ssl.create_default_context()
context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
def expect(call, reply):
    try:
        got = call()
    except ftplib.Error as error:
        got = str(error)
    assert got == reply, (got, reply)
clear = ftplib.FTP()
clear.connect('127.0.0.1', port, timeout=20)
for command in ['USER client', 'PASS pw']:
    expect(lambda: clear.sendcmd(command), '534 Policy requires TLS: send AUTH TLS first')
expect(lambda: clear.sendcmd('PBSZ 0'), '503 Bad sequence of commands')
secure = ftplib.FTP_TLS(context=context)
secure.connect('127.0.0.1', port, timeout=20)
expect(lambda: secure.login('client', 'pw'), '230 User logged in, proceed')
expect(lambda: secure.sendcmd('AUTH TLS'), '503 Bad sequence of commands')
expect(lambda: secure.sendcmd('PROT P'), '503 Bad sequence of commands')
expect(lambda: secure.nlst(), '521 Data connection cannot be opened with this PROT setting; send PROT P')
expect(lambda: secure.sendcmd('PBSZ 0'), '200 PBSZ=0')
expect(lambda: secure.sendcmd('PROT S'), '536 Requested PROT level not supported by mechanism')
expect(lambda: secure.sendcmd('PROT X'), '504 Command not implemented for that parameter')
expect(secure.prot_p, '200 Protection level set to Private')
# ftplib does not resume the session on its data connections.
expect(lambda: secure.nlst(), "425 Can't open data connection: it must resume the TLS session of the control connection")
expect(lambda: secure.sendcmd('REIN'), '220 Service ready for new user')
expect(lambda: secure.sendcmd('NOOP'), '200 Command OK')
def raw():
    peer = socket.create_connection(('127.0.0.1', port), timeout=20)
    lines = peer.makefile('rb')
    assert lines.readline() == b'220 Service ready for new user\r\n'
    return peer, lines
# Commands pipelined behind AUTH TLS in clear text are dropped, not run under TLS.
peer, lines = raw()
peer.sendall(b'AUTH TLS\r\nUSER client\r\nPASS pw\r\n')
assert lines.readline() == b'234 AUTH TLS accepted; start the TLS handshake\r\n'
wrapped = context.wrap_socket(peer)
wrapped.sendall(b'SIZE small.txt\r\n')
assert wrapped.recv(100) == b'530 Not logged on\r\n'
# Garbage instead of a ClientHello: the server closes the connection.
peer, lines = raw()
peer.sendall(b'AUTH TLS\r\n')
lines.readline()
peer.sendall(b'GET / HTTP/1.0\r\n' * 100)
while peer.recv(4096):
    pass
print('ok')
)PY";

class RequiredTlsTest : public ClientsTest {
 protected:
  RequiredTlsTest()
      : ClientsTest([](settings::Settings& s) {
          s.tls.mode = 2;
          s.tls.requireSessionReuse = 1;
        }) {}
};

// TlsMode 2 refuses clear text logins and transfers; with session reuse
// required curl, which resumes, still works.
TEST_F(RequiredTlsTest, ClearTextAndUnresumedDataAreRefused) {
  local_.write("policy.py", kPolicyScript);
  root_.write("a.txt", "hello");
  runAll({{curl_ + url_ + "a.txt", "", "", "Access denied: 534", true},
          {curl_ + tls_ + "-o a.txt " + url_ + "a.txt", "a.txt", "a.txt"},
          {lftp_ + lftp_tls_ + open_ + "get a.txt -o b.txt'", "a.txt", "b.txt"},
          {"python3 policy.py " + port_, "", "", "ok\n"}});
  EXPECT_EQ(fixture_.connect()->ask("NOOP"), "200 Command OK");  // no crash
}

}  // namespace
}  // namespace talvek::test
