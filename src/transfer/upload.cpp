// STOR, STOU and APPE: receive into a file created beneath the session's
// root or its uploads directory until the client closes the data connection.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "protocol/path_rules.h"
#include "protocol/reply_table.h"
#include "log/log_thread.h"
#include "session/session_host.h"
#include "transfer/data_channel.h"
#include "transfer/transfer_job.h"
#include "transfer/transfer_log.h"

namespace talvek::transfer {

namespace {

// Large blocks keep system calls few; the file is never held whole.
constexpr size_t kReceiveBlock = 1 << 20;
constexpr uint8_t kDeletePermission = 4;
// How many suffixed names STOU tries before it gives up.
constexpr int kUniqueSuffixes = 1000;

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

// REST n before STOR: the first n bytes stay, the upload is written from n.
bool Resumes(const TransferJob& job) { return job.kind == TransferKind::Stor && job.restart_offset > 0; }

// Cuts the resumed file to `offset` and writes from there; the error reply
// when it is no regular file or shorter than `offset`.
std::optional<std::string> ResumeAt(int file, int64_t offset) {
  struct stat info {};
  if (::fstat(file, &info) != 0) return ftp::FileErrorReply(ftp::FileErrorCauseFromErrno(errno));
  if (!S_ISREG(info.st_mode)) return ftp::FileErrorReply(ftp::kInvalidFile);
  if (offset > info.st_size) return "554 Requested action not taken: invalid REST parameter";
  if (::ftruncate(file, offset) != 0 || ::lseek(file, offset, SEEK_SET) != offset)
    return ftp::FileErrorReply(ftp::FileErrorCauseFromErrno(errno));
  return std::nullopt;
}

// Creates the upload's file beneath `root`. Without the delete right an
// existing file is never opened (O_EXCL), so nothing is truncated or
// appended to; STOU never takes an existing name and adds "_1", "_2", ...
// until one is free. `name` becomes the name really created.
platform::FsResult<platform::UniqueFd> CreateTarget(const TransferJob& job, const platform::ConfinedFs& root,
                                                    const std::string& directory, std::string& name) {
  bool stou = job.kind == TransferKind::Stou;
  bool exclusive = stou || (job.permissions & kDeletePermission) == 0;
  // A resumed STOR continues a file that exists; it changes it, so it needs
  // the same right as replacing it.
  if (Resumes(job))
    return exclusive ? platform::FsResult<platform::UniqueFd>{{}, EEXIST}
                     : root.open(ftp::JoinPath(directory, name), O_WRONLY);
  int flags = O_WRONLY | O_CREAT | (exclusive ? O_EXCL : 0) |
              (job.kind == TransferKind::Appe ? O_APPEND : exclusive ? 0 : O_TRUNC);
  std::string base = name;
  auto file = root.open(ftp::JoinPath(directory, name), flags, 0644);
  for (int suffix = 1; stou && file.error == EEXIST && suffix <= kUniqueSuffixes; ++suffix) {
    name = base + "_" + std::to_string(suffix);
    file = root.open(ftp::JoinPath(directory, name), flags, 0644);
  }
  return file;
}

}  // namespace

std::optional<std::string> RunUpload(TransferRun& run) {
  const TransferJob& job = run.job;
  auto& server = run.server;
  // Redirection without an uploads directory would aim at the file system's
  // root; such uploads are refused instead. Redirected uploads stay inside
  // the uploads directory, others inside the session's root.
  if (job.redirect_uploads && job.uploads_directory.empty()) return ftp::Reply(553);
  auto root = job.redirect_uploads ? platform::ConfinedFs::Open(job.uploads_directory).value : job.root;
  std::string directory = job.redirect_uploads ? std::string() : job.working;
  std::string name = job.argument;
  run.clearRestartOffset();  // REST applies to this transfer only
  if (!root || name.empty()) return ftp::Reply(553);
  auto created = CreateTarget(job, *root, directory, name);
  if (created.error == EEXIST) return ftp::Reply(job.kind == TransferKind::Stou ? 451 : 553);
  if (!created.ok()) {
    LogFileError(server, created.error);
    return ftp::FileErrorReply(ftp::FileErrorCauseFromErrno(created.error));
  }
  int file = created.value.get();
  if (Resumes(job))
    if (auto refused = ResumeAt(file, job.restart_offset)) return refused;
  std::string full_path = root->root() + ftp::JoinPath(directory, name);
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
  // What arrived before an abort or a failure stays in the file, uncounted.
  if (aborted) return std::nullopt;
  if (failure) return failure;
  if (job.monitor)
    LogCompletion(server, log::NowText() + " : \r\nCompleted transfer of " + log::EscapeControlBytes(full_path) + " from " + job.display_name +
                              "\r\n\r\n");
  run.addToList(true, full_path);
  server.bytes_received.fetch_add(static_cast<uint64_t>(received));
  std::string reply = ftp::Reply(250);
  if (job.kind == TransferKind::Stou) reply += " " + name;
  return reply;
}

}  // namespace talvek::transfer
