// LIST and NLST: the whole text is built, then sent in one piece; LIST of
// the working directory itself comes from and goes to the directory cache,
// whose copy is used only while the directory is as it was.
#include <fcntl.h>

#include <memory>

#include "cache/cache_store.h"
#include "ftp/reply_table.h"
#include "server/server.h"
#include "transfer/data_channel.h"
#include "transfer/listing_format.h"
#include "transfer/transfer_job.h"
#include "transfer/transfer_log.h"

namespace talvek::transfer {

namespace {

// The outcome of sending a listing: the final reply, or nothing on abort.
std::optional<std::string> Finish(TransferRun& run, const IoResult& sent, const std::string& what) {
  run.touch();
  if (sent.status == IoStatus::Aborted) return std::nullopt;
  if (sent.status == IoStatus::Failed) {
    std::string reason = SocketFailureText(run.server, sent.error);
    run.server.logEvent("Transfer of " + what + " to " + run.job.display_name + " failed: " + reason);
    return ftp::Reply(426);
  }
  return ftp::Reply(226);
}

}  // namespace

std::optional<std::string> RunList(TransferRun& run) {
  const TransferJob& job = run.job;
  auto& cache = run.server.directoryCache();
  cache::CachedBytes text;
  // Set when the working directory was read from disk: what the new copy was made from.
  std::optional<cache::DiskStamp> read_from;
  std::string key = job.root ? job.root->root() + job.working + (job.working.empty() ? "" : "/") : std::string();
  if (job.root && job.argument.empty()) {
    // One stat of the directory decides whether the cached copy is still true.
    auto directory = job.root->open(job.working, O_RDONLY | O_DIRECTORY);
    struct stat info {};
    if (directory.ok() && ::fstat(directory.value.get(), &info) == 0) {
      cache::DiskStamp stamp = cache::StampOf(info);
      text = cache.lookup(key, stamp);
      platform::DirStream entries(text ? nullptr : ::fdopendir(directory.value.get()));
      if (entries) {
        directory.value.release();  // the stream owns it now
        text = std::make_shared<const std::string>(LongListing(ReadEntries(*job.root, entries.get(), job.working, "")));
        read_from = stamp;
      }
    }
  } else if (job.root) {
    text = std::make_shared<const std::string>(LongListing(SearchEntries(*job.root, job.working, job.argument)));
  }
  if (!text) text = std::make_shared<const std::string>();
  run.server.bytes_sent.fetch_add(text->size());
  run.progress(0, static_cast<int64_t>(text->size()));
  IoResult sent = run.channel.send(text->data(), text->size());
  run.progress(sent.bytes, static_cast<int64_t>(text->size()));
  if (read_from && job.cache.cacheDirs && !cache.busy() && sent.status == IoStatus::Ok)
    cache.add(key, text, cache::kListingTag, *read_from);
  return Finish(run, sent, "listing");
}

std::optional<std::string> RunNameList(TransferRun& run) {
  const TransferJob& job = run.job;
  std::string text;
  if (job.root) {
    for (const auto& entry : SearchEntries(*job.root, job.working, job.argument)) {
      if (run.channel.aborted()) return std::nullopt;
      text += entry.name + "\r\n";
    }
  }
  IoResult sent = run.channel.send(text.data(), text.size());
  return Finish(run, sent, "name list");
}

}  // namespace talvek::transfer
