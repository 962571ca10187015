// RETR: from the file cache, as a whole small file that then enters the
// cache, or streamed from disk with sendfile from the restart offset.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cache/cache_store.h"
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

class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

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

std::optional<std::string> RunDownload(TransferRun& run) {
  const TransferJob& job = run.job;
  auto& server = run.server;
  if (run.channel.aborted()) return std::nullopt;
  run.progress(0, 0);
  std::string full_path = CollapseSeparators(job.current_directory + job.argument);
  auto confined = ftp::ConfineToRoot(job.root, full_path);
  if (!confined) return ftp::FileErrorReply(ftp::kAccessDenied);
  auto& file_cache = server.fileCache();

  int64_t total = 0;
  IoResult sent;
  cache::CachedBytes cached;
  // Keyed by the canonical path, so that every spelling of a file shares one
  // entry and a change to the file finds it.
  const std::string& cache_key = *confined;
  if (!job.argument.empty()) cached = file_cache.lookup(cache_key);
  if (cached && job.restart_offset == 0) {
    total = static_cast<int64_t>(cached->size());
    run.progress(0, total);
    sent = run.channel.send(cached->data(), cached->size());
  } else {
    FileHandle file(::open(confined->c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.get() >= 0 && ::fstat(file.get(), &info) == 0 && !S_ISREG(info.st_mode)) errno = EISDIR;
    if (file.get() < 0 || !S_ISREG(info.st_mode)) {
      int error = errno;
      LogFileError(server, error);
      return ftp::FileErrorReply(ftp::FileErrorCauseFromErrno(error));
    }
    total = info.st_size;
    int64_t offset = job.restart_offset;
    if (offset > total || offset < 0) offset = 0;
    run.progress(offset, total);
    run.channel.onProgress([&run, done = offset, total](int64_t bytes) mutable {
      done += bytes;
      run.progress(done, total);
      run.touch();
    });
    if (TakesWholeFileWay(job, total, file_cache)) {
      auto block = ReadWhole(file.get(), total);
      if (!block) {
        LogFileError(server, errno);
        return ftp::Reply(451);
      }
      sent = run.channel.send(block->data(), block->size());
      if (sent.status == IoStatus::Ok) file_cache.add(cache_key, block, cache::kFileTag);
    } else {
      sent = run.channel.sendFile(file.get(), offset, total - offset);
    }
    sent.bytes += offset;
  }
  run.progress(sent.bytes, total);
  run.touch();
  if (sent.status == IoStatus::Aborted) return std::nullopt;  // ABOR has answered
  if (sent.status == IoStatus::Failed) {
    std::string reason = SocketFailureText(server, sent.error);
    server.logEvent("Transfer of " + log::EscapeControlBytes(FileNameOf(full_path)) + " to " + job.display_name + " failed: " + reason);
    return ftp::Reply(426);
  }
  run.addToList(false, full_path);
  run.clearRestartOffset();
  server.bytes_sent.fetch_add(static_cast<uint64_t>(total));
  if (job.monitor)
    LogCompletion(server, log::NowText() + " : Completed transfer of " + log::EscapeControlBytes(FileNameOf(full_path)) + " to " +
                              job.display_name + "\r\n\r\n");
  return ftp::Reply(226);
}

}  // namespace talvek::transfer
