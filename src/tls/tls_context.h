// The server's TLS setup: one OpenSSL context (TLS 1.2 and later, ECDHE
// with AES-GCM or ChaCha20, no compression, no renegotiation) holding the
// certificate and key, and the certificate's SHA-256 fingerprint. Made
// once, then only read: the control thread and every transfer worker share
// it through shared_ptr, and each session holds its own reference.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

using SSL_CTX = struct ssl_ctx_st;

namespace talvek::tls {

class TlsContext;

// A context, or the reason there is none.
struct ContextResult {
  std::shared_ptr<const TlsContext> context;
  std::string error;
};

class TlsContext {
  struct Made {};  // only the factories below make contexts

 public:
  explicit TlsContext(Made) {}
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // Reads a PEM certificate (chain) and its PEM private key.
  static ContextResult FromFiles(const std::filesystem::path& certificate, const std::filesystem::path& key);
  // A fresh self-signed ECDSA P-256 certificate kept in memory only.
  static ContextResult SelfSigned();

  SSL_CTX* native() const { return context_; }
  // "AB:CD:..." over the DER certificate, as clients show it.
  const std::string& fingerprint() const { return fingerprint_; }

 private:
  SSL_CTX* context_ = nullptr;
  std::string fingerprint_;
};

// Writes a fresh self-signed ECDSA P-256 certificate and key as PEM. The key
// file is created with mode 0600 under a temporary name that no one else
// may own (O_EXCL) and renamed into place, so it is never readable by others
// even for a moment. Returns "" or what failed.
std::string WriteSelfSigned(const std::filesystem::path& certificate, const std::filesystem::path& key);

}  // namespace talvek::tls
