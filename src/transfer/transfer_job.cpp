#include "transfer/transfer_job.h"

#include "log/log_thread.h"
#include "session/session_root.h"
#include "session/connection_record.h"
#include "session/session_host.h"

namespace talvek::transfer {

TransferJob MakeJob(session::SessionHost& server, server::ConnectionRecord& record, TransferKind kind,
                    const std::string& argument) {
  auto settings = server.settings();
  TransferJob job;
  job.kind = kind;
  job.argument = argument;
  job.root = ftp::SessionRoot(server, record);
  if (job.root) job.working = ftp::WorkingDirectory(*job.root, record);
  job.permissions = record.permissions;
  job.redirect_uploads = record.redirect_uploads;
  job.monitor = record.monitor;
  job.file_lists = record.record_file_lists;
  job.restart_offset = record.restart_offset.load();
  job.cache = settings.cache;
  job.protection = record.data_protection;
  job.tls_handshake_ms = server.data_connection_timeout_ms.load();
  std::lock_guard lock(record.text_mutex);
  job.current_directory = record.current_directory;
  job.uploads_directory = record.uploads_directory;
  job.display_name = record.display_name;
  return job;
}

void TransferScope::progress(int64_t done, int64_t total) {
  if (auto owner = record.lock()) {
    owner->transfer_done.store(done);
    owner->transfer_total.store(total);
  }
}

void TransferScope::touch() {
  if (auto owner = record.lock()) owner->touch();
}

void TransferScope::addToList(bool uploads, const std::string& path) {
  if (!job.file_lists) return;
  if (auto owner = record.lock()) {
    std::lock_guard lock(owner->text_mutex);
    (uploads ? owner->uploads_list : owner->downloads_list) += log::EscapeControlBytes(path) + "\r\n";
  }
}

void TransferScope::clearRestartOffset() {
  if (auto owner = record.lock()) owner->restart_offset.store(0);
}

}  // namespace talvek::transfer
