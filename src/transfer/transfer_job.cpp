#include "transfer/transfer_job.h"

#include "log/log_thread.h"
#include "protocol/listing_format.h"
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
  job.permissions = record.control.permissions;
  job.facts = kAllFacts & ~record.control.hidden_facts;
  job.redirect_uploads = record.control.redirect_uploads;
  job.monitor = record.shared.monitor.load();
  job.file_lists = record.shared.record_file_lists.load();
  job.restart_offset = record.shared.restart_offset.load();
  job.cache = settings.cache;
  job.protection = record.control.data_protection;
  job.tls_handshake_ms = server.data_connection_timeout_ms.load();
  job.uploads_directory = record.control.uploads_directory;
  auto texts = record.texts.lock();
  job.current_directory = texts->current_directory;
  job.display_name = texts->display_name;
  return job;
}

void TransferScope::progress(int64_t done, int64_t total) {
  if (auto owner = record.lock()) {
    owner->shared.transfer_done.store(done);
    owner->shared.transfer_total.store(total);
  }
}

void TransferScope::touch() {
  if (auto owner = record.lock()) owner->touch();
}

void TransferScope::addToList(bool uploads, const std::string& path) {
  if (!job.file_lists) return;
  if (auto owner = record.lock()) {
    auto texts = owner->texts.lock();
    (uploads ? texts->uploads_list : texts->downloads_list) += log::EscapeControlBytes(path) + "\r\n";
  }
}

void TransferScope::clearRestartOffset() {
  if (auto owner = record.lock()) owner->shared.restart_offset.store(0);
}

}  // namespace talvek::transfer
