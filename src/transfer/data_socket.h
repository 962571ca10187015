// The data connection of one client for one transfer. Made on the control
// thread by an active transfer command or a passive accept and owned by the
// connection record (shared_ptr). The connection stays on the event loop
// until the transfer starts: a small download from memory is written there,
// anything else hands the descriptor to a task of the server's transfer
// engine. The body (on the loop or on a worker) holds the socket by
// shared_ptr and, when done, settles it on the control thread and sends the
// final reply; disposal never waits for it.
#pragma once

// Standard headers first: asio picks its allocator from what they define.
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <asio/steady_timer.hpp>

#include "platform/async_socket.h"
#include "transfer/transfer_job.h"

namespace talvek::ftp {
class ControlConnection;
}

namespace talvek::transfer {

struct LoopSend;

class DataSocket : public platform::AsyncSocket {
 public:
  DataSocket(asio::io_context& io, session::SessionHost& server, std::weak_ptr<server::ConnectionRecord> owner);

  // --- control thread ---
  void setTransfer(std::string argument, TransferKind kind);
  // Connects out to the client's data port; the transfer starts on success.
  void startActive(const asio::ip::tcp::endpoint& peer, std::chrono::milliseconds timeout);
  // An accepted connection: it waits on the loop, unread, for its transfer.
  void adoptAccepted() {
    holdReceive();
    connected_ = true;
  }
  // Starts the transfer with the stored argument and kind.
  void startNow();
  bool started() const { return started_; }
  // A body (on the loop or a worker) has not settled yet.
  bool running() const { return running_; }
  // Makes disposal run once; false when it already ran.
  bool markDisposed();
  // True once, when the connection is to be removed with the transfer.
  bool takeOwnerRemoval() { return remove_owner_.exchange(false); }

  // --- any thread ---
  void abort() { aborted_.store(true); }
  bool aborted() const { return aborted_.load(); }
  // Set when the connection is removed while the transfer runs: the
  // transfer's end then removes the connection too.
  void removeOwnerWhenClosed() {
    remove_owner_.store(true);
    abort();
  }
  const std::weak_ptr<server::ConnectionRecord>& owner() const { return owner_; }

 protected:
  void OnConnect(int error_code) override;

 private:
  // The worker's body over the descriptor `fd`.
  std::optional<std::string> run(int fd, TransferJob& job, DownloadSource* source);
  void startOnWorker(TransferJob job, std::shared_ptr<DownloadSource> source);
  // Writes the source's block from the event loop, then ends with 226.
  void sendFromLoop(TransferJob job, std::shared_ptr<DownloadSource> source);
  void writeStep(const std::shared_ptr<LoopSend>& send);
  // Ends the transfer with `reply` from the control thread once the
  // handler now running has answered.
  void refuse(std::string reply);
  // The body has ended (control thread): settles the socket, then replies.
  void settle(std::optional<std::string> reply);
  void failToConnect();
  int takeDescriptor();

  session::SessionHost& server_;
  std::weak_ptr<server::ConnectionRecord> owner_;
  std::weak_ptr<ftp::ControlConnection> connection_;  // taken when the transfer starts
  std::atomic<bool> aborted_{false};
  std::atomic<bool> remove_owner_{false};
  bool disposed_ = false;
  bool started_ = false;
  bool running_ = false;
  bool connected_ = false;
  TransferKind kind_ = TransferKind::List;
  std::string argument_;
  asio::steady_timer connect_timer_;
};

// Aborts the transfer of `socket` and detaches it from its record; once no
// body runs, removes the connection when so marked.
// Never waits. Control thread.
void DisposeDataSocket(session::SessionHost& server, const std::weak_ptr<DataSocket>& socket);
// Queues DisposeDataSocket on the control thread; any thread.
void PostDisposal(session::SessionHost& server, std::weak_ptr<DataSocket> socket);

}  // namespace talvek::transfer
