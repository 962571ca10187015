#include "transfer/data_socket.h"

#include <fcntl.h>
#include <unistd.h>

#include <new>

#include "session/control_connection.h"
#include "protocol/reply_table.h"
#include "session/connection_record.h"
#include "session/session_host.h"
#include "transfer/data_channel.h"

namespace talvek::transfer {

namespace {
// How long disposal waits for a transfer thread to notice its abort.
constexpr auto kFinishWait = std::chrono::milliseconds(5000);
}  // namespace

DataSocket::DataSocket(asio::io_context& io, session::SessionHost& server, std::weak_ptr<server::ConnectionRecord> owner)
    : AsyncSocket(io), server_(server), owner_(std::move(owner)), connect_timer_(io) {}

DataSocket::~DataSocket() {
  aborted_.store(true);
  // Never on the transfer thread itself: that thread holds no strong
  // reference to this socket, and the server joins transfers before its
  // records go (see the header).
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

void DataSocket::setTransfer(std::string argument, TransferKind kind) {
  argument_ = std::move(argument);
  kind_ = kind;
}

int DataSocket::takeDescriptor() {
  // The event loop lets go of the socket; from here only the transfer
  // thread reads and writes it.
  std::error_code error;
  int fd = socket().release(error);
  if (error || fd < 0) return -1;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

void DataSocket::adoptAccepted() { fd_ = takeDescriptor(); }

void DataSocket::startActive(const asio::ip::tcp::endpoint& peer, std::chrono::milliseconds timeout) {
  connect(peer);
  connect_timer_.expires_after(timeout);
  std::weak_ptr<DataSocket> weak = std::static_pointer_cast<DataSocket>(shared_from_this());
  connect_timer_.async_wait([weak](const std::error_code& error) {
    auto self = weak.lock();
    if (error || !self || self->fd_ >= 0 || self->thread_.joinable()) return;
    // The connect is still outstanding: cancelling it reports the failure.
    std::error_code ignored;
    self->socket().close(ignored);
  });
}

void DataSocket::OnConnect(int error_code) {
  connect_timer_.cancel();
  if (error_code != 0 || disposed_) {
    if (error_code != 0) server_.appendMonitor(server_.socketErrorText(error_code, false));
    failToConnect();
    return;
  }
  fd_ = takeDescriptor();
  auto record = owner_.lock();
  if (!record || fd_ < 0) {
    failToConnect();
    return;
  }
  record->control.data_connected = true;
  startNow();
}

void DataSocket::failToConnect() {
  // The client has had 150; it learns that no data will come.
  auto record = owner_.lock();
  if (record && record->control.control_connection && !disposed_)
    record->control.control_connection->sendReply(ftp::Reply(425));
  PostDisposal(server_, std::static_pointer_cast<DataSocket>(shared_from_this()));
}

void DataSocket::startNow() {
  if (thread_.joinable() || fd_ < 0 || disposed_) return;
  auto record = owner_.lock();
  if (!record) return;
  TransferJob job = MakeJob(server_, *record, kind_, argument_);
  record->shared.transfer_done = 0;
  record->shared.transfer_total = 0;
  finished_.reset();
  int fd = fd_;
  fd_ = -1;
  // The thread keeps its own handle on the control connection: removal
  // resets the record's pointer on the control thread meanwhile.
  std::weak_ptr<ftp::ControlConnection> connection = record->control.control_connection;
  std::weak_ptr<DataSocket> self = std::static_pointer_cast<DataSocket>(shared_from_this());
  thread_ = std::thread([this, fd, self, connection, job = std::move(job)]() mutable {
    run(fd, std::move(job), self, connection);
  });
}

void DataSocket::run(int fd, TransferJob job, const std::weak_ptr<DataSocket>& self,
                     const std::weak_ptr<ftp::ControlConnection>& connection) {
  std::optional<std::string> reply;
  {
    DataChannel channel(fd, aborted_);
    TransferRun run{server_, owner_, channel, job};
    reply = StartDataTls(run);
    try {
      if (!reply && !channel.aborted()) switch (job.kind) {
        case TransferKind::Retr: reply = RunDownload(run); break;
        case TransferKind::Stor:
        case TransferKind::Stou:
        case TransferKind::Appe: reply = RunUpload(run); break;
        case TransferKind::List: reply = RunList(run); break;
        case TransferKind::Nlst: reply = RunNameList(run); break;
        case TransferKind::Mlsd: reply = RunMachineList(run); break;
      }
    } catch (const std::bad_alloc&) {
      // Out of memory: give back what the file cache holds and say so.
      server_.fileCache().clear();
      reply = ftp::Reply(451);
    }
  }  // the data connection closes before the final reply goes out
  finished_.set();
  // Disposal is queued ahead of the reply, so a client that answers the
  // reply at once finds the data side idle.
  PostDisposal(server_, self);
  if (auto control = connection.lock(); control && reply) control->sendReply(*reply);
}

bool DataSocket::markDisposed() {
  if (disposed_) return false;
  disposed_ = true;
  return true;
}

bool DataSocket::finish(std::chrono::milliseconds limit) {
  abort();
  if (!finished_.waitFor(limit)) return false;
  if (thread_.joinable()) thread_.join();
  return true;
}

void DisposeDataSocket(session::SessionHost& server, const std::weak_ptr<DataSocket>& weak) {
  auto socket = weak.lock();
  if (!socket) return;
  bool remove_owner = socket->removesOwner();
  if (!socket->markDisposed()) return;
  auto record = socket->owner().lock();
  socket->finish(kFinishWait);
  socket->closeNow();
  if (record && record->control.data_socket == socket) {
    record->control.data_socket.reset();
    record->control.transfer_pending = false;
    record->control.data_connected = false;
    record->control.passive = false;
  }
  socket.reset();
  if (remove_owner && record) server.remove(record);
}

void PostDisposal(session::SessionHost& server, std::weak_ptr<DataSocket> socket) {
  server.post([&server, socket = std::move(socket)] { DisposeDataSocket(server, socket); });
}

}  // namespace talvek::transfer
