// STOR, STOU and APPE: receive into a file below the connection's root or
// its uploads directory until the client closes the data connection.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "ftp/reply_table.h"
#include "ftp/virtual_path.h"
#include "log/log_thread.h"
#include "server/server.h"
#include "transfer/data_channel.h"
#include "transfer/listing_format.h"
#include "transfer/transfer_job.h"
#include "transfer/transfer_log.h"

namespace talvek::transfer {

namespace {

// Large blocks keep system calls few; the file is never held whole.
constexpr size_t kReceiveBlock = 1 << 20;
constexpr uint8_t kDeletePermission = 4;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

std::string WithSlash(std::string directory) {
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

}  // namespace

std::optional<std::string> RunUpload(TransferRun& run) {
  const TransferJob& job = run.job;
  auto& server = run.server;
  // Redirection without an uploads directory would aim at the file system's
  // root; such uploads are refused instead.
  if (job.redirect_uploads && job.uploads_directory.empty()) return ftp::Reply(553);
  std::string target = job.redirect_uploads ? WithSlash(job.uploads_directory) : job.current_directory;
  std::string full_path = target + job.argument;
  // Redirected uploads stay inside the uploads directory, others inside the root.
  auto confined = ftp::ConfineToRoot(job.redirect_uploads ? target : job.root, full_path);
  if (!confined || job.argument.empty()) return ftp::Reply(553);
  if ((job.permissions & kDeletePermission) == 0 && ftp::EntryExists(*confined)) return ftp::Reply(553);

  int mode = job.kind == TransferKind::Appe ? O_APPEND : O_TRUNC;
  int file = ::open(confined->c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0644);
  if (file < 0) {
    int error = errno;
    LogFileError(server, error);
    return ftp::FileErrorReply(ftp::FileErrorCauseFromErrno(error));
  }
  // Truncation or appending changes the file now; again at the end, in case
  // a download cached it half written meanwhile.
  server.forgetCachedPath(*confined);
  std::vector<char> buffer(kReceiveBlock);
  int64_t received = 0;
  std::optional<std::string> failure;
  bool aborted = false;
  for (;;) {
    IoResult got = run.channel.receive(buffer.data(), buffer.size());
    if (got.status == IoStatus::Aborted) {
      aborted = true;
      break;
    }
    if (got.status == IoStatus::Failed) {
      std::string reason = SocketFailureText(server, got.error);
      server.logEvent("Reception of " + log::EscapeControlBytes(job.argument) + " from " + job.display_name + " failed: " + reason);
      failure = ftp::Reply(451);
      break;
    }
    if (got.bytes == 0) break;
    if (!WriteAll(file, buffer.data(), static_cast<size_t>(got.bytes))) {
      int error = errno;
      LogFileError(server, error);
      failure = ftp::FileErrorReply(ftp::FileErrorCauseFromErrno(error));
      break;
    }
    received += got.bytes;
    run.progress(received, received);
    run.touch();  // a long upload is not idle
  }
  ::close(file);
  server.forgetCachedPath(*confined);
  // What arrived before an abort or a failure stays in the file, uncounted.
  if (aborted) return std::nullopt;
  if (failure) return failure;
  if (job.monitor)
    LogCompletion(server, log::NowText() + " : \r\nCompleted transfer of " + log::EscapeControlBytes(full_path) + " from " + job.display_name +
                              "\r\n\r\n");
  run.addToList(true, full_path);
  server.bytes_received.fetch_add(static_cast<uint64_t>(received));
  std::string reply = ftp::Reply(250);
  if (job.kind == TransferKind::Stou) reply += " " + job.argument;
  return reply;
}

}  // namespace talvek::transfer
