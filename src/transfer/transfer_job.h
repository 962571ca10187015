// What one transfer body works from: the transfer kind and argument and
// a copy of the connection's directories, rights and flags taken on the
// control thread when the transfer starts, so a worker never reads the
// record's texts while the control thread may change them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cache/cache_store.h"
#include "platform/confined_fs.h"
#include "platform/unique_fd.h"
#include "settings/settings_blocks.h"

namespace talvek::server {
struct ConnectionRecord;
}  // namespace talvek::server

namespace talvek::session {
class SessionHost;
}  // namespace talvek::session
namespace talvek::tls {
struct DataProtection;
}  // namespace talvek::tls

namespace talvek::transfer {

class DataChannel;
struct IoResult;

enum class TransferKind : int { List = 0, Retr = 1, Stor = 2, Stou = 3, Appe = 4, Nlst = 5, Mlsd = 6 };

struct TransferJob {
  TransferKind kind = TransferKind::List;
  std::string argument;           // after the path check, relative to the current directory
  std::string current_directory;  // ends with "/"
  std::string uploads_directory;
  std::shared_ptr<const platform::ConfinedFs> root;  // the session's; nothing when it cannot be opened
  std::string working;                                // the working directory below the root
  uint8_t permissions = 0;
  uint8_t facts = 0;  // what MLSD shows of each entry (OPTS MLST chooses)
  bool redirect_uploads = false;
  bool monitor = false;
  bool file_lists = false;
  std::string display_name;
  int64_t restart_offset = 0;
  settings::CacheSettings cache = settings::CacheSettings::Defaults();
  std::shared_ptr<const tls::DataProtection> protection;  // PROT P: TLS on the data connection
  int tls_handshake_ms = 30000;                           // how long its handshake may take
};

// Takes the copy; control thread.
TransferJob MakeJob(session::SessionHost& server, server::ConnectionRecord& record, TransferKind kind,
                    const std::string& argument);

// What a body needs besides its data connection: the job and the record
// it reports to, from the event loop or a worker.
struct TransferScope {
  session::SessionHost& server;
  std::weak_ptr<server::ConnectionRecord> record;
  const TransferJob& job;

  // Progress for STAT and activity for the idle sweep.
  void progress(int64_t done, int64_t total);
  void touch();
  void addToList(bool uploads, const std::string& path);
  void clearRestartOffset();
};

// What a body needs while it runs on a worker.
struct TransferRun : TransferScope {
  DataChannel& channel;
};

// The file of a RETR as opened beneath the root (clear data connections
// only: under PROT P nothing is opened before the TLS handshake), and its
// bytes when they are at hand.
struct DownloadSource {
  platform::UniqueFd file;
  cache::DiskStamp stamp;
  int64_t total = 0;
  std::string full_path;
  cache::CachedBytes block;  // the whole file, from the cache or read whole
  bool cached = false;       // `block` came from the cache
};

// Opens the file of a RETR into `source`; a file of at most `read_limit`
// bytes that is read whole anyway is read now. The refusal reply when the
// file cannot be sent, else nothing.
std::optional<std::string> OpenDownload(session::SessionHost& server, const TransferJob& job, DownloadSource& source,
                                        int64_t read_limit);
// After the bytes of a RETR went, or did not: statistics, the transfer
// records, the monitor line and the reply (nothing after an abort).
// `sent.bytes` counts from the file's start.
std::optional<std::string> FinishDownload(TransferScope& scope, const DownloadSource& source, const IoResult& sent);

// The body of each kind; the final reply, or nothing when the transfer was
// aborted (ABOR has answered) or failed without a reply.
// RunDownload sends `source` when the control thread opened it, else opens it.
std::optional<std::string> RunDownload(TransferRun& run, DownloadSource* source);
std::optional<std::string> RunUpload(TransferRun& run);
std::optional<std::string> RunList(TransferRun& run);
std::optional<std::string> RunNameList(TransferRun& run);
std::optional<std::string> RunMachineList(TransferRun& run);
// Before the body under PROT P: the TLS handshake on the data connection;
// the reply that refuses the transfer when it fails, else nothing.
std::optional<std::string> StartDataTls(TransferRun& run);

}  // namespace talvek::transfer
