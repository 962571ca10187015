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
  int fd() const { return fd_.get(); }
  // Everything until the peer closes; nothing when the deadline passes first.
  std::optional<std::string> readAll(std::chrono::milliseconds deadline = std::chrono::seconds(10));
  bool sendAll(const std::string& bytes);
  // True when the peer closes or resets the connection within the deadline.
  bool closedWithin(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  void close();

 private:
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
  ~ActiveListener();
  uint16_t port() const { return port_; }
  // "PORT 127,0,0,1,p1,p2"
  std::string portCommand() const;
  // "EPRT |1|127.0.0.1|port|", or |2| for an IPv6 listener.
  std::string eprtCommand() const;
  // The next connection, or an invalid peer after the deadline.
  DataPeer accept(std::chrono::milliseconds deadline = std::chrono::seconds(5));

 private:
  std::string address_;
  int fd_ = -1;
  uint16_t port_ = 0;
};

settings::Settings TransferSettings(const std::string& root);

// Sets the access and change time of `path`. Only copies of what has not
// changed for a while enter the caches, so cache tests date their files back.
void SetModified(const std::filesystem::path& path, std::time_t when);
inline constexpr std::time_t kLongAgo = 1'000'000'000;

// The FTP root, made before the server that serves it.
struct RootHolder {
  TempDir root_;
};

class TransferTest : public ::testing::Test, protected RootHolder {
 protected:
  // `adjust` changes the settings before the server starts.
  explicit TransferTest(const std::function<void(settings::Settings&)>& adjust = {})
      : fixture_(Adjusted(TransferSettings(root_.dir()), adjust)) {}
  static settings::Settings Adjusted(settings::Settings settings,
                                     const std::function<void(settings::Settings&)>& adjust) {
    if (adjust) adjust(settings);
    return settings;
  }

  // A client whose record is logged in with `permissions`, root the FTP root.
  std::unique_ptr<LineClient> loggedIn(uint8_t permissions = 7, const std::string& address = "127.0.0.1");
  // Changes the one connection's record on the control thread.
  void changeRecord(const std::function<void(server::ConnectionRecord&)>& change);
  // PASV, then the data connection.
  DataPeer passive(LineClient& client);
  // RETR/LIST/NLST in passive mode: the bytes received, with the replies
  // checked ("150 ..." then `final_reply`).
  std::string fetch(LineClient& client, const std::string& command,
                    const std::string& final_reply = "226 Closing data connection. Requested file action successful.");
  // STOR/APPE/STOU in passive mode, sending `bytes`; returns the final reply.
  std::string store(LineClient& client, const std::string& command, const std::string& bytes);

  ServerFixture fixture_;
};

}  // namespace talvek::test
