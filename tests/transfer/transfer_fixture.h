// A running server with a temporary FTP root, a logged-in control client
// and blocking data-connection helpers with bounded waits.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/confined_fs.h"
#include "support/server_fixture.h"

namespace talvek::test {

// A loopback TCP socket descriptor, closed with the object.
class DataPeer {
 public:
  DataPeer() = default;
  explicit DataPeer(int fd) : fd_(fd) {}
  bool valid() const { return fd_.get() >= 0; }
  // Everything until the peer closes; nothing when the deadline passes first.
  std::optional<std::string> readAll(std::chrono::milliseconds deadline = std::chrono::seconds(10));
  bool sendAll(const std::string& bytes);
  // True when the peer closes or resets the connection within the deadline.
  bool closedWithin(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  void close();

 private:
  // Reads until the peer closes (true) or resets (false); nothing when the
  // deadline passes first. Keeps the bytes in `into` when given.
  std::optional<bool> drain(std::string* into, std::chrono::milliseconds deadline);
  platform::UniqueFd fd_;
};

// Connects to `address`:`port`.
DataPeer ConnectData(uint16_t port, const std::string& address = "127.0.0.1");
// The port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" reply, or 0.
uint16_t PassivePort(const std::string& reply);

// A loopback listener for active-mode data connections.
class ActiveListener {
 public:
  explicit ActiveListener(const std::string& address = "127.0.0.1");
  uint16_t port() const { return port_; }
  // "PORT 127,0,0,1,p1,p2"
  std::string portCommand() const;
  // "EPRT |1|127.0.0.1|port|", or |2| for an IPv6 listener.
  std::string eprtCommand() const;
  // The next connection, or an invalid peer after the deadline.
  DataPeer accept(std::chrono::milliseconds deadline = std::chrono::seconds(5));

 private:
  std::string address_;
  platform::UniqueFd fd_;
  uint16_t port_ = 0;
};

// `size` bytes of a pattern that no offset or length mistake keeps.
std::string Pattern(size_t size, unsigned seed = 0);

// Sets the access and change time of `path`. Only copies of what has not
// changed for a while enter the caches, so cache tests date their files back.
void SetModified(const std::filesystem::path& path, std::time_t when);
inline constexpr std::time_t kLongAgo = 1'000'000'000;
// A moment of local time.
std::time_t LocalTime(int year, int month, int day, int hour = 12, int minute = 0, int second = 0);

// A server with both caches on, serving a fresh FTP root.
class TransferTest : public ::testing::Test {
 protected:
  // `adjust` changes the settings before the server starts.
  explicit TransferTest(const std::function<void(settings::Settings&)>& adjust = {});

  // A client whose record is logged in with `permissions`, root the FTP root.
  std::unique_ptr<LineClient> loggedIn(uint8_t permissions = 7, const std::string& address = "127.0.0.1");
  // Changes the one connection's record on the control thread.
  void changeRecord(const std::function<void(server::ConnectionRecord&)>& change);
  // Asks the first connection's record on the control thread, whose state it reads.
  bool askRecord(const std::function<bool(server::ConnectionRecord&)>& question);
  // PASV, then the data connection.
  DataPeer passive(LineClient& client);
  // One command on a fresh passive connection, sending `upload` for STOR,
  // APPE and STOU: the replies ("1xx" for the preliminary one, whose code
  // depends on when the server took the connection) and the bytes received.
  struct Exchange {
    std::string replies, data;
  };
  Exchange exchange(LineClient& client, const std::string& command, const std::string& upload = "");
  // RETR/LIST/NLST/MLSD: the bytes received, with the replies checked.
  std::string fetch(LineClient& client, const std::string& command,
                    const std::string& final_reply = "226 Closing data connection. Requested file action successful.");

  TempDir root_;  // made before the server that serves it
  ServerFixture fixture_;
};

}  // namespace talvek::test
