#include "transfer_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace talvek::test {


void DataPeer::close() { fd_ = platform::UniqueFd(); }

std::optional<bool> DataPeer::drain(std::string* into, std::chrono::milliseconds deadline) {
  auto until = std::chrono::steady_clock::now() + deadline;
  std::string buffer(1 << 16, '\0');
  while (fd_.get() >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    pollfd item{fd_.get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&item, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
    ssize_t got = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
    if (got <= 0) return got == 0;
    if (into) into->append(buffer.data(), static_cast<size_t>(got));
  }
  return std::nullopt;
}

std::optional<std::string> DataPeer::readAll(std::chrono::milliseconds deadline) {
  std::string all;
  if (!drain(&all, deadline).value_or(false)) return std::nullopt;
  return all;
}

bool DataPeer::closedWithin(std::chrono::milliseconds deadline) { return drain(nullptr, deadline).has_value(); }

bool DataPeer::sendAll(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

DataPeer ConnectData(uint16_t port, const std::string& host) {
  sockaddr_storage address;
  socklen_t length = SocketAddress(host, port, address);
  platform::UniqueFd fd(::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) return DataPeer();
  return DataPeer(fd.release());
}

uint16_t PassivePort(const std::string& reply) {
  unsigned h1, h2, h3, h4, p1, p2;
  size_t open = reply.find('(');
  if (open == std::string::npos ||
      std::sscanf(reply.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &h1, &h2, &h3, &h4, &p1, &p2) != 6)
    return 0;
  return static_cast<uint16_t>(p1 * 256 + p2);
}

ActiveListener::ActiveListener(const std::string& address) : address_(address) {
  sockaddr_storage bound;
  socklen_t length = SocketAddress(address, 0, bound);
  fd_ = platform::UniqueFd(::socket(bound.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&bound), length) == 0 && ::listen(fd_.get(), 4) == 0 &&
      ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&bound), &length) == 0)
    port_ = ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);  // the same place in both families
}

std::string ActiveListener::portCommand() const {
  return "PORT 127,0,0,1," + std::to_string(port_ >> 8) + "," + std::to_string(port_ & 0xff);
}

std::string ActiveListener::eprtCommand() const {
  return std::string("EPRT |") + (address_.find(':') == std::string::npos ? "1" : "2") + "|" + address_ + "|" +
         std::to_string(port_) + "|";
}

DataPeer ActiveListener::accept(std::chrono::milliseconds deadline) {
  pollfd item{fd_.get(), POLLIN, 0};
  if (::poll(&item, 1, static_cast<int>(deadline.count())) <= 0) return DataPeer();
  return DataPeer(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 31 + i / 251) & 0xff);
  return bytes;
}

void SetModified(const std::filesystem::path& path, std::time_t when) {
  timespec times[2] = {{when, 0}, {when, 0}};
  EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm when{};
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  when.tm_isdst = -1;
  return std::mktime(&when);
}

TransferTest::TransferTest(const std::function<void(settings::Settings&)>& adjust)
    : fixture_([&] {
        auto settings = LoopbackSettings(root_.dir());
        settings.cache.cacheDirs = 1;
        settings.cache.cacheFiles = 1;
        if (adjust) adjust(settings);
        return settings;
      }()) {}

std::unique_ptr<LineClient> TransferTest::loggedIn(uint8_t permissions, const std::string& address) {
  auto client = fixture_.connect(address);
  EXPECT_TRUE(fixture_.waitForRegistered(1));
  changeRecord([&](server::ConnectionRecord& record) {
    record.control.logged_in = true;
    record.control.permissions = permissions;
    record.control.root_directory = root_.dir();
    record.control.root_fs.reset();  // opened again from root_directory
    record.texts.lock()->current_directory = root_.dir();
  });
  return client;
}

void TransferTest::changeRecord(const std::function<void(server::ConnectionRecord&)>& change) {
  auto records = fixture_.server().registrySnapshot();
  ASSERT_EQ(records.size(), 1u);
  auto record = records.front();
  ASSERT_TRUE(fixture_.server().runOnControlThread([&] { change(*record); }));
}

bool TransferTest::askRecord(const std::function<bool(server::ConnectionRecord&)>& question) {
  auto records = fixture_.server().registrySnapshot();
  if (records.empty()) return false;
  return fixture_.server().callOnControlThread<bool>([&] { return question(*records.front()); }).value_or(false);
}

DataPeer TransferTest::passive(LineClient& client) {
  auto reply = client.ask("PASV").value_or("<none>");
  EXPECT_TRUE(reply.starts_with("227 Entering Passive Mode (127,0,0,1,") && reply.ends_with(")")) << reply;
  auto data = ConnectData(PassivePort(reply));
  EXPECT_TRUE(data.valid());
  // The server takes the connection on its own thread; wait so that the
  // next command finds it (125, not 150).
  EXPECT_TRUE(WaitUntil([&] { return askRecord([](auto& record) { return record.control.data_connected; }); }));
  return data;
}

TransferTest::Exchange TransferTest::exchange(LineClient& client, const std::string& command,
                                             const std::string& upload) {
  Exchange result;
  DataPeer data = ConnectData(PassivePort(client.ask("PASV").value_or("")));
  result.replies = client.ask(command).value_or("<none>");
  if (!result.replies.starts_with("125 ") && !result.replies.starts_with("150 ")) return result;
  if (command.starts_with("STOR") || command.starts_with("APPE") || command.starts_with("STOU")) {
    data.sendAll(upload);  // a refusal may close the connection first
    data.close();
  } else {
    result.data = data.readAll().value_or("<timed out>");
  }
  result.replies = "1xx\n" + client.readReply(std::chrono::seconds(10)).value_or("<none>");
  return result;
}

std::string TransferTest::fetch(LineClient& client, const std::string& command, const std::string& final_reply) {
  Exchange got = exchange(client, command);
  EXPECT_EQ(got.replies, "1xx\n" + final_reply) << command;
  return got.data;
}

}  // namespace talvek::test
