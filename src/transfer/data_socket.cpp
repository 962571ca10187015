#include "transfer/data_socket.h"

#include <fcntl.h>
#include <unistd.h>

#include <asio/post.hpp>

#include <new>

#include "platform/unique_fd.h"
#include "protocol/reply_table.h"
#include "session/connection_record.h"
#include "session/control_connection.h"
#include "session/session_host.h"
#include "transfer/data_channel.h"
#include "transfer/transfer_engine.h"

namespace talvek::transfer {

namespace {
// A file at most this large that is read whole anyway is read and sent on
// the event loop: cheaper than handing it to a worker and back.
constexpr int64_t kLoopReadLimit = 64 * 1024;

int ErrnoOf(const std::error_code& error) {
  return error.category() == std::system_category() ? error.value() : EPIPE;
}
}  // namespace

// A download written from the event loop.
struct LoopSend {
  TransferJob job;
  std::shared_ptr<DownloadSource> source;
  size_t done = 0;
};

DataSocket::DataSocket(asio::io_context& io, session::SessionHost& server, std::weak_ptr<server::ConnectionRecord> owner)
    : AsyncSocket(io), server_(server), owner_(std::move(owner)), connect_timer_(io) {}

void DataSocket::setTransfer(std::string argument, TransferKind kind) {
  argument_ = std::move(argument);
  kind_ = kind;
}

int DataSocket::takeDescriptor() {
  // The event loop lets go of the socket; from here only the worker reads
  // and writes it.
  std::error_code error;
  int fd = socket().release(error);
  if (error || fd < 0) return -1;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

void DataSocket::startActive(const asio::ip::tcp::endpoint& peer, std::chrono::milliseconds timeout) {
  connect(peer);
  connect_timer_.expires_after(timeout);
  std::weak_ptr<DataSocket> weak = std::static_pointer_cast<DataSocket>(shared_from_this());
  connect_timer_.async_wait([weak](const std::error_code& error) {
    auto self = weak.lock();
    if (error || !self || self->connected_) return;
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
  // The client's bytes on a data connection are read by the transfer only.
  holdReceive();
  auto record = owner_.lock();
  if (!record) {
    failToConnect();
    return;
  }
  connected_ = true;
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
  if (started_ || !connected_ || disposed_) return;
  auto record = owner_.lock();
  if (!record) return;
  started_ = true;
  running_ = true;
  TransferJob job = MakeJob(server_, *record, kind_, argument_);
  record->shared.transfer_done = 0;
  record->shared.transfer_total = 0;
  // The body keeps its own handle on the control connection: removal
  // resets the record's pointer meanwhile.
  connection_ = record->control.control_connection;
  if (job.kind != TransferKind::Retr || job.protection) {
    startOnWorker(std::move(job), nullptr);
    return;
  }
  // A clear download: the file is opened here, and what is already in
  // memory goes out from the event loop.
  auto source = std::make_shared<DownloadSource>();
  std::optional<std::string> refusal;
  try {
    refusal = OpenDownload(server_, job, *source, kLoopReadLimit);
  } catch (const std::bad_alloc&) {
    server_.fileCache().clear();
    refusal = ftp::Reply(451);
  }
  if (refusal) {
    refuse(std::move(*refusal));
  } else if (source->block) {
    sendFromLoop(std::move(job), std::move(source));
  } else {
    startOnWorker(std::move(job), std::move(source));
  }
}

void DataSocket::refuse(std::string reply) {
  closeNow();
  // Posted: the handler that started the transfer may not have answered yet.
  asio::post(context(), [self = std::static_pointer_cast<DataSocket>(shared_from_this()), reply = std::move(reply)] {
    self->settle(reply);
  });
}

void DataSocket::startOnWorker(TransferJob job, std::shared_ptr<DownloadSource> source) {
  auto descriptor = std::make_shared<platform::UniqueFd>(takeDescriptor());
  if (descriptor->get() < 0) {
    refuse(ftp::Reply(425));
    return;
  }
  auto self = std::static_pointer_cast<DataSocket>(shared_from_this());
  std::weak_ptr<DataSocket> weak = self;
  bool queued = server_.transferEngine().submit(
      [self, descriptor, job = std::move(job), source = std::move(source)]() mutable -> std::function<void()> {
        auto reply = self->run(descriptor->release(), job, source.get());
        source.reset();  // the file is closed before the transfer counts as ended
        // The socket is settled, and let go of, on the control thread.
        return [self = std::move(self), reply = std::move(reply)]() mutable {
          auto& server = self->server_;
          server.post([self = std::move(self), reply = std::move(reply)]() mutable { self->settle(std::move(reply)); });
        };
      },
      [weak] {
        if (auto socket = weak.lock()) socket->abort();
      });
  if (!queued) running_ = false;  // the server is stopping: nothing more is sent
}

std::optional<std::string> DataSocket::run(int fd, TransferJob& job, DownloadSource* source) {
  std::optional<std::string> reply;
  {
    DataChannel channel(fd, aborted_);
    TransferRun run{{server_, owner_, job}, channel};
    reply = StartDataTls(run);
    try {
      if (!reply && !channel.aborted()) switch (job.kind) {
        case TransferKind::Retr: reply = RunDownload(run, source); break;
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
  return reply;
}

void DataSocket::sendFromLoop(TransferJob job, std::shared_ptr<DownloadSource> source) {
  auto send = std::make_shared<LoopSend>(LoopSend{std::move(job), std::move(source)});
  TransferScope scope{server_, owner_, send->job};
  scope.progress(0, static_cast<int64_t>(send->source->block->size()));
  writeStep(send);
}

void DataSocket::writeStep(const std::shared_ptr<LoopSend>& send) {
  const std::string& block = *send->source->block;
  auto self = std::static_pointer_cast<DataSocket>(shared_from_this());
  // The completion always comes later from the loop, so the reply of the
  // command that started the transfer is out before 226.
  socket().async_write_some(
      asio::buffer(block.data() + send->done, block.size() - send->done),
      [self, send](const std::error_code& error, size_t written) {
        send->done += written;
        size_t size = send->source->block->size();
        TransferScope scope{self->server_, self->owner_, send->job};
        IoResult result{IoStatus::Ok, 0, static_cast<int64_t>(send->done)};
        if (!error && send->done < size && !self->aborted()) {
          scope.progress(result.bytes, static_cast<int64_t>(size));
          scope.touch();
          self->writeStep(send);
          return;
        }
        if (send->done < size) result.status = self->aborted() ? IoStatus::Aborted : IoStatus::Failed;
        if (result.status == IoStatus::Failed) result.error = error ? ErrnoOf(error) : EPIPE;
        self->closeNow();  // the data connection closes before the final reply goes out
        auto reply = FinishDownload(scope, *send->source, result);
        send->source.reset();  // and the file before the transfer counts as ended
        self->settle(std::move(reply));
      });
}

void DataSocket::settle(std::optional<std::string> reply) {
  running_ = false;
  // Disposal goes ahead of the reply, so a client that answers the reply
  // at once finds the data side idle.
  DisposeDataSocket(server_, std::static_pointer_cast<DataSocket>(shared_from_this()));
  if (auto control = connection_.lock(); control && reply) control->sendReply(*reply);
}

bool DataSocket::markDisposed() {
  if (disposed_) return false;
  disposed_ = true;
  return true;
}

void DisposeDataSocket(session::SessionHost& server, const std::weak_ptr<DataSocket>& weak) {
  auto socket = weak.lock();
  if (!socket) return;
  auto record = socket->owner().lock();
  if (socket->markDisposed()) {
    socket->abort();
    socket->closeNow();
    if (record && record->control.data_socket == socket) {
      record->control.data_socket.reset();
      record->control.transfer_pending = false;
      record->control.data_connected = false;
      record->control.passive = false;
    }
  }
  // A body still runs: its end comes back here.
  if (socket->running()) return;
  if (socket->takeOwnerRemoval() && record) server.remove(record);
}

void PostDisposal(session::SessionHost& server, std::weak_ptr<DataSocket> socket) {
  server.post([&server, socket = std::move(socket)] { DisposeDataSocket(server, socket); });
}

}  // namespace talvek::transfer
