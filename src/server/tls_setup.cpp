#include "server/tls_setup.h"

#include <system_error>

#include "tls/tls_context.h"

namespace talvek::server {

bool TlsCertificateChanged(const settings::TlsSettings& before, const settings::TlsSettings& after) {
  return before.mode != after.mode || before.certificateFile != after.certificateFile ||
         before.keyFile != after.keyFile;
}

TlsSetup PrepareTls(const settings::TlsSettings& settings, const std::filesystem::path& settings_directory) {
  TlsSetup setup;
  if (settings.mode == 0) return setup;
  tls::ContextResult loaded;
  bool generated = settings.certificateFile.empty() && settings.keyFile.empty();
  if (!generated) {
    loaded = tls::TlsContext::FromFiles(settings.certificateFile, settings.keyFile);
  } else if (settings_directory.empty()) {
    loaded = tls::TlsContext::SelfSigned();
  } else {
    auto certificate = settings_directory / kGeneratedCertificate, key = settings_directory / kGeneratedKey;
    std::error_code ignored;
    // A pair made at an earlier start is kept, so the fingerprint users checked stays.
    if (!std::filesystem::exists(certificate, ignored) || !std::filesystem::exists(key, ignored)) {
      std::string error = tls::WriteSelfSigned(certificate, key);
      if (error.empty())
        setup.events.push_back("Generated a self-signed TLS certificate " + certificate.string() + " and key " +
                               key.string());
      loaded.error = error;
    }
    if (loaded.error.empty()) loaded = tls::TlsContext::FromFiles(certificate, key);
  }
  if (!loaded.context) {
    setup.refuse_start = settings.mode == 2;
    setup.events.push_back(setup.refuse_start ? "TLS is required (TlsMode 2) but unavailable: " + loaded.error +
                                                    "; the server does not start"
                                              : "TLS is off: " + loaded.error);
    return setup;
  }
  setup.context = std::move(loaded.context);
  setup.events.push_back("TLS certificate SHA-256 fingerprint " + setup.context->fingerprint());
  return setup;
}

}  // namespace talvek::server
