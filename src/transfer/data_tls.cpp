// PROT P: the data connection's TLS handshake, before any transfer body
// touches a file, and the reply when it fails.
#include "log/log_thread.h"
#include "session/session_host.h"
#include "tls/tls_stream.h"
#include "transfer/data_channel.h"
#include "transfer/transfer_job.h"

namespace talvek::transfer {

std::optional<std::string> StartDataTls(TransferRun& run) {
  if (!run.job.protection) return std::nullopt;
  std::string failure;
  auto started = run.channel.startTls(*run.job.protection, std::chrono::milliseconds(run.job.tls_handshake_ms), failure);
  if (started == DataChannel::TlsStart::Ok || started == DataChannel::TlsStart::Aborted) return std::nullopt;
  run.server.logEvent("TLS on the data connection of " + run.job.display_name + " refused: " +
                      log::EscapeControlBytes(failure));
  if (started == DataChannel::TlsStart::NotResumed)
    return "425 Can't open data connection: it must resume the TLS session of the control connection";
  return "425 Can't open data connection: TLS handshake failed";
}

}  // namespace talvek::transfer
