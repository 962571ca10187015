// LIST and NLST: the whole text is built, then sent in one piece; LIST of
// the current directory itself comes from and goes to the directory cache.
#include <memory>

#include "cache/cache_store.h"
#include "ftp/reply_table.h"
#include "ftp/virtual_path.h"
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

// The directory a pattern searches, when it stays inside the root.
bool PatternInsideRoot(const TransferJob& job, const std::string& directory) {
  std::string searched = directory;
  if (size_t slash = job.argument.find_last_of('/'); slash != std::string::npos)
    searched += job.argument.substr(0, slash + 1);
  return ftp::ConfineToRoot(job.root, searched).has_value();
}

}  // namespace

std::optional<std::string> RunList(TransferRun& run) {
  const TransferJob& job = run.job;
  auto& cache = run.server.directoryCache();
  std::string key = CollapseSeparators(job.current_directory);
  cache::CachedBytes text;
  if (job.argument.empty()) text = cache.lookup(key);
  bool from_cache = text != nullptr;
  if (!from_cache) {
    std::string built;
    if (PatternInsideRoot(job, key)) built = FormatListing(key, job.argument);
    text = std::make_shared<const std::string>(std::move(built));
  }
  run.server.bytes_sent.fetch_add(text->size());
  run.progress(0, static_cast<int64_t>(text->size()));
  IoResult sent = run.channel.send(text->data(), text->size());
  run.progress(sent.bytes, static_cast<int64_t>(text->size()));
  if (!from_cache && job.argument.empty() && job.cache.cacheDirs && !cache.busy() && sent.status == IoStatus::Ok)
    cache.add(key, text, cache::kListingTag);
  return Finish(run, sent, "listing");
}

std::optional<std::string> RunNameList(TransferRun& run) {
  const TransferJob& job = run.job;
  std::string text;
  if (PatternInsideRoot(job, job.current_directory)) {
    for (const auto& entry : SearchEntries(job.current_directory, job.argument)) {
      if (run.channel.aborted()) return std::nullopt;
      text += entry.name + "\r\n";
    }
  }
  IoResult sent = run.channel.send(text.data(), text.size());
  return Finish(run, sent, "name list");
}

}  // namespace talvek::transfer
