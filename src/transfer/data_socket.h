// The data connection of one client for one transfer. Made on the control
// thread by an active transfer command or a passive accept and owned by the
// connection record (shared_ptr). Once connected it hands its descriptor
// to a transfer thread of its own, which it joins before it goes; the thread refers to the
// socket and the record only weakly, so the socket is destroyed on the
// control thread (disposal), or by the server once that thread has ended.
#pragma once

// Standard headers first: asio picks its allocator from what they define.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <asio/steady_timer.hpp>

#include "platform/async_socket.h"
#include "platform/manual_reset_event.h"
#include "transfer/transfer_job.h"

namespace talvek::ftp {
class ControlConnection;
}

namespace talvek::transfer {

class DataSocket : public platform::AsyncSocket {
 public:
  DataSocket(asio::io_context& io, session::SessionHost& server, std::weak_ptr<server::ConnectionRecord> owner);
  ~DataSocket() override;  // aborts and joins a running transfer thread

  // --- control thread ---
  void setTransfer(std::string argument, TransferKind kind);
  // Connects out to the client's data port; the transfer starts on success.
  void startActive(const asio::ip::tcp::endpoint& peer, std::chrono::milliseconds timeout);
  // Takes over the descriptor of an accepted connection.
  void adoptAccepted();
  // Starts the transfer thread with the stored argument and kind.
  void startNow();
  bool started() const { return thread_.joinable(); }
  // Makes disposal run once; false when it already ran.
  bool markDisposed();
  // Waits (bounded) for the thread to end, then joins it if it has; true
  // when no transfer thread runs any more.
  bool finish(std::chrono::milliseconds limit);

  // --- any thread ---
  void abort() { aborted_.store(true); }
  bool aborted() const { return aborted_.load(); }
  // Set when the connection is removed while the transfer runs: disposal
  // then removes the connection too.
  void removeOwnerWhenClosed() {
    remove_owner_.store(true);
    abort();
  }
  bool removesOwner() const { return remove_owner_.load(); }
  const std::weak_ptr<server::ConnectionRecord>& owner() const { return owner_; }
  TransferKind kind() const { return kind_; }

 protected:
  void OnConnect(int error_code) override;

 private:
  void run(int fd, TransferJob job, const std::weak_ptr<DataSocket>& self,
           const std::weak_ptr<ftp::ControlConnection>& connection);
  void failToConnect();
  int takeDescriptor();

  session::SessionHost& server_;
  std::weak_ptr<server::ConnectionRecord> owner_;
  std::atomic<bool> aborted_{false};
  std::atomic<bool> remove_owner_{false};
  bool disposed_ = false;
  TransferKind kind_ = TransferKind::List;
  std::string argument_;
  int fd_ = -1;  // the connection's descriptor until the thread takes it
  platform::ManualResetEvent finished_{true};
  std::thread thread_;
  asio::steady_timer connect_timer_;
};

// Ends the transfer of `socket` (bounded wait), detaches it from its record
// and, when so marked, removes the connection. Control thread.
void DisposeDataSocket(session::SessionHost& server, const std::weak_ptr<DataSocket>& socket);
// Queues DisposeDataSocket on the control thread; any thread.
void PostDisposal(session::SessionHost& server, std::weak_ptr<DataSocket> socket);

}  // namespace talvek::transfer
