// RETR: from the file cache, as a whole small file that then enters the
// cache, or streamed from disk from the restart offset. The file is opened
// on the control thread for clear data connections (so small files can be
// sent from the event loop) and by the worker after the handshake under TLS.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cache/cache_store.h"
#include "protocol/path_rules.h"
#include "protocol/reply_table.h"
#include "log/log_thread.h"
#include "session/session_host.h"
#include "transfer/data_channel.h"
#include "transfer/transfer_job.h"
#include "transfer/transfer_log.h"

namespace talvek::transfer {

namespace {

// Reads the whole file into one block; nothing on a read error.
cache::CachedBytes ReadWhole(int fd, int64_t size) {
  auto block = std::make_shared<std::string>(static_cast<size_t>(size), '\0');
  size_t have = 0;
  while (have < block->size()) {
    ssize_t got = ::pread(fd, block->data() + have, block->size() - have, static_cast<off_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return nullptr;
    if (got == 0) break;  // the file shrank meanwhile
    have += static_cast<size_t>(got);
  }
  block->resize(have);
  return block;
}

uint64_t PhysicalMemoryBytes() {
  long pages = ::sysconf(_SC_PHYS_PAGES);
  long page_size = ::sysconf(_SC_PAGE_SIZE);
  return pages > 0 && page_size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size) : 0;
}

// Whether a file of `size` bytes is read whole and offered to the file cache.
bool TakesWholeFileWay(const TransferJob& job, int64_t size, const cache::CacheStore& file_cache) {
  static const uint64_t physical_limit = PhysicalMemoryBytes() / 10;
  uint64_t share_limit = static_cast<uint64_t>(job.cache.fileCacheKB) * 1024 / 4;
  uint64_t length = static_cast<uint64_t>(size);
  return job.cache.cacheFiles && job.restart_offset == 0 && length <= physical_limit && length <= share_limit &&
         !file_cache.busy();
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<std::string> OpenDownload(session::SessionHost& server, const TransferJob& job, DownloadSource& source,
                                        int64_t read_limit) {
  if (!job.root) return ftp::FileErrorReply(ftp::kAccessDenied);
  std::string path = ftp::JoinPath(job.working, job.argument);
  source.full_path = job.root->root() + path;
  auto& file_cache = server.fileCache();

  // The file is opened beneath the root first: the cached copy is used only
  // while the opened file still has the size, times and inode it was made from.
  auto file = job.root->open(path, O_RDONLY);
  struct stat info {};
  if (file.ok() && ::fstat(file.value.get(), &info) != 0) file.error = errno;
  if (file.ok() && !S_ISREG(info.st_mode)) file.error = EISDIR;
  if (!file.ok()) {
    LogFileError(server, file.error);
    return ftp::FileErrorReply(ftp::FileErrorCauseFromErrno(file.error));
  }
  source.file = std::move(file.value);
  source.stamp = cache::StampOf(info);
  source.total = info.st_size;
  if (!job.argument.empty()) {
    auto cached = file_cache.lookup(source.full_path, source.stamp);
    if (cached && job.restart_offset == 0) {
      source.block = std::move(cached);
      source.cached = true;
    }
  }
  if (!source.block && source.total <= read_limit && TakesWholeFileWay(job, source.total, file_cache)) {
    source.block = ReadWhole(source.file.get(), source.total);
    if (!source.block) {
      LogFileError(server, errno);
      return ftp::Reply(451);
    }
  }
  return std::nullopt;
}

std::optional<std::string> RunDownload(TransferRun& run, DownloadSource* opened) {
  const TransferJob& job = run.job;
  if (run.channel.aborted()) return std::nullopt;
  run.progress(0, 0);
  DownloadSource own;
  if (!opened) {
    if (auto refusal = OpenDownload(run.server, job, own, 0)) return refusal;
    opened = &own;
  }
  DownloadSource& source = *opened;
  auto& file_cache = run.server.fileCache();
  IoResult sent;
  if (source.block && source.cached) {
    run.progress(0, static_cast<int64_t>(source.block->size()));
    sent = run.channel.send(source.block->data(), source.block->size());
  } else {
    int64_t offset = job.restart_offset;
    if (offset > source.total || offset < 0) offset = 0;
    run.progress(offset, source.total);
    run.channel.onProgress([&run, done = offset, total = source.total](int64_t bytes) mutable {
      done += bytes;
      run.progress(done, total);
      run.touch();
    });
    if (!source.block && TakesWholeFileWay(job, source.total, file_cache)) {
      source.block = ReadWhole(source.file.get(), source.total);
      if (!source.block) {
        LogFileError(run.server, errno);
        return ftp::Reply(451);
      }
    }
    if (source.block) {
      sent = run.channel.send(source.block->data(), source.block->size());
    } else {
      sent = run.channel.sendFile(source.file.get(), offset, source.total - offset);
    }
    sent.bytes += offset;
  }
  return FinishDownload(run, source, sent);
}

std::optional<std::string> FinishDownload(TransferScope& scope, const DownloadSource& source, const IoResult& sent) {
  auto& server = scope.server;
  const TransferJob& job = scope.job;
  // A copy read whole enters the cache once sent, unless the file changed while it was read.
  if (sent.status == IoStatus::Ok && source.block && !source.cached &&
      static_cast<int64_t>(source.block->size()) == source.total)
    server.fileCache().add(source.full_path, source.block, cache::kFileTag, source.stamp);
  int64_t total = source.block && source.cached ? static_cast<int64_t>(source.block->size()) : source.total;
  scope.progress(sent.bytes, total);
  scope.touch();
  if (sent.status == IoStatus::Aborted) return std::nullopt;  // ABOR has answered
  if (sent.status == IoStatus::Failed) {
    std::string reason = SocketFailureText(server, sent.error);
    server.logEvent("Transfer of " + log::EscapeControlBytes(FileNameOf(source.full_path)) + " to " + job.display_name +
                    " failed: " + reason);
    return ftp::Reply(426);
  }
  scope.addToList(false, source.full_path);
  scope.clearRestartOffset();
  server.bytes_sent.fetch_add(static_cast<uint64_t>(total));
  if (job.monitor)
    LogCompletion(server, log::NowText() + " : Completed transfer of " +
                              log::EscapeControlBytes(FileNameOf(source.full_path)) + " to " + job.display_name +
                              "\r\n\r\n");
  return ftp::Reply(226);
}

}  // namespace talvek::transfer
