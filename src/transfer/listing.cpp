// LIST, NLST and MLSD: the whole text is built, then sent in one piece; LIST
// of a whole directory comes from and goes to the directory cache, whose
// copy is used only while the directory is as it was.
#include <fcntl.h>

#include <cerrno>
#include <memory>

#include "cache/cache_store.h"
#include "protocol/path_rules.h"
#include "protocol/reply_table.h"
#include "session/session_host.h"
#include "transfer/data_channel.h"
#include "protocol/listing_format.h"
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

// Sends a listing's text and counts it as sent bytes.
IoResult SendListing(TransferRun& run, const std::string& text) {
  run.server.bytes_sent.fetch_add(text.size());
  run.progress(0, static_cast<int64_t>(text.size()));
  IoResult sent = run.channel.send(text.data(), text.size());
  run.progress(sent.bytes, static_cast<int64_t>(text.size()));
  return sent;
}

}  // namespace

std::optional<std::string> RunList(TransferRun& run) {
  const TransferJob& job = run.job;
  auto& cache = run.server.directoryCache();
  cache::CachedBytes text;
  // Set when a whole directory was read from disk: what the new copy was made from.
  std::optional<cache::DiskStamp> read_from;
  std::optional<std::string> listed = job.root ? NamedDirectory(*job.root, job.working, job.argument) : std::nullopt;
  std::string key = listed ? job.root->root() + *listed + (listed->empty() ? "" : "/") : std::string();
  if (listed) {
    // One stat of the directory decides whether the cached copy is still true.
    auto directory = job.root->open(*listed, O_RDONLY | O_DIRECTORY);
    struct stat info {};
    if (directory.ok() && ::fstat(directory.value.get(), &info) == 0) {
      cache::DiskStamp stamp = cache::StampOf(info);
      // The listing shows its files' sizes and times too, which the directory's stamp does not.
      bool watched = cache.stampContents(directory.value.get(), stamp);
      if (watched) text = cache.lookup(key, stamp);
      platform::DirStream entries(text ? nullptr : ::fdopendir(directory.value.get()));
      if (entries) {
        directory.value.release();  // the stream owns it now
        text = std::make_shared<const std::string>(LongListing(ReadEntries(*job.root, entries.get(), *listed, "")));
        if (watched) read_from = stamp;
      }
    }
  } else if (job.root) {
    text = std::make_shared<const std::string>(LongListing(SearchEntries(*job.root, job.working, job.argument)));
  }
  if (!text) text = std::make_shared<const std::string>();
  IoResult sent = SendListing(run, *text);
  if (read_from && job.cache.cacheDirs && !cache.busy() && sent.status == IoStatus::Ok)
    cache.add(key, text, cache::kListingTag, *read_from);
  return Finish(run, sent, "listing");
}

std::optional<std::string> RunMachineList(TransferRun& run) {
  const TransferJob& job = run.job;
  if (!job.root) return ftp::FileErrorReply(ftp::kAccessDenied);
  // Only a directory is listed: a file or a pattern gets 501, a missing name 550.
  auto directory = NamedDirectory(*job.root, job.working, job.argument);
  auto opened = directory ? job.root->openDir(*directory) : platform::FsResult<platform::DirStream>{nullptr, ENOTDIR};
  if (!directory && job.root->stat(ftp::JoinPath(job.working, job.argument)).error == ENOENT) opened.error = ENOENT;
  if (!opened.ok()) return ftp::FileErrorReply(ftp::FileErrorCauseFromErrno(opened.error));
  std::string text;
  for (const auto& entry : ReadEntries(*job.root, opened.value.get(), *directory, ""))
    if (entry.name != "." && entry.name != "..")
      text += EntryFacts(entry, job.facts, job.permissions) + " " + entry.name + "\r\n";
  return Finish(run, SendListing(run, text), "listing");
}

std::optional<std::string> RunNameList(TransferRun& run) {
  const TransferJob& job = run.job;
  std::string text;
  if (job.root) {
    for (const auto& entry : ArgumentEntries(*job.root, job.working, job.argument)) {
      if (run.channel.aborted()) return std::nullopt;
      text += entry.name + "\r\n";
    }
  }
  IoResult sent = run.channel.send(text.data(), text.size());
  return Finish(run, sent, "name list");
}

}  // namespace talvek::transfer
