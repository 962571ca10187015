// What the TLS settings put in force at a start or reload: the configured
// certificate and key, or a self-signed pair made once beside the settings
// file (kept in memory when there is no such directory), and the event
// lines that say so, the fingerprint among them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace talvek::tls {
class TlsContext;
}

namespace talvek::server {

// The names of the generated pair beside the settings file.
inline constexpr char kGeneratedCertificate[] = "tls-certificate.pem";
inline constexpr char kGeneratedKey[] = "tls-key.pem";

struct TlsSetup {
  std::shared_ptr<const tls::TlsContext> context;  // null: TLS is off
  std::vector<std::string> events;
  bool refuse_start = false;  // TLS is required and cannot be had
};

// Whether going from `before` to `after` needs PrepareTls again.
bool TlsCertificateChanged(const settings::TlsSettings& before, const settings::TlsSettings& after);

TlsSetup PrepareTls(const settings::TlsSettings& settings, const std::filesystem::path& settings_directory);

}  // namespace talvek::server
