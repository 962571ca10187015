#include "tls/tls_context.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include "platform/atomic_file.h"
#include "tls/openssl_error.h"

namespace talvek::tls {

std::string OpenSslError(const std::string& what) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return what;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return what + ": " + text;
}

namespace {

// TLS 1.2 suites with forward secrecy and authenticated encryption; TLS 1.3
// has only such suites.
constexpr char kCipherList[] = "ECDHE+AESGCM:ECDHE+CHACHA20";
// A session stays resumable as long as a control connection may last, so a
// data connection late in a long session still resumes it.
constexpr long kSessionSeconds = 24 * 60 * 60;
constexpr long kCertificateDays = 3650;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

struct Pair {
  KeyPtr key;
  X509Ptr certificate;
};

// A self-signed ECDSA P-256 certificate for "talvek-ftpd", valid from now.
std::optional<Pair> MakeSelfSigned(std::string& error) {
  Pair pair{KeyPtr(EVP_EC_gen("P-256")), X509Ptr(X509_new())};
  if (!pair.key || !pair.certificate) {
    error = OpenSslError("cannot generate a key");
    return std::nullopt;
  }
  X509* x = pair.certificate.get();
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7f;  // a positive serial number
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  bool made = number && X509_set_version(x, 2) && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x)) &&
              X509_gmtime_adj(X509_getm_notBefore(x), 0) &&
              X509_gmtime_adj(X509_getm_notAfter(x), kCertificateDays * 24 * 60 * 60) &&
              X509_set_pubkey(x, pair.key.get()) &&
              X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>("talvek-ftpd"), -1, -1, 0) &&
              X509_set_issuer_name(x, X509_get_subject_name(x)) && X509_sign(x, pair.key.get(), EVP_sha256()) > 0;
  BN_free(number);
  if (!made) {
    error = OpenSslError("cannot make a certificate");
    return std::nullopt;
  }
  return pair;
}

std::string Fingerprint(const X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!X509_digest(certificate, EVP_sha256(), digest, &size)) return {};
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    if (i > 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

std::string Pem(const std::function<int(BIO*)>& write) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || write(bio.get()) != 1) return {};
  char* data = nullptr;
  long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

}  // namespace

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

namespace {

// A context without credentials: protocol floor, suites and options.
SSL_CTX* NewServerContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context) return nullptr;
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE |
                                   SSL_OP_ENABLE_KTLS | SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_cipher_list(context, kCipherList);
  SSL_CTX_set_timeout(context, kSessionSeconds);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
  return context;
}

}  // namespace

ContextResult TlsContext::FromFiles(const std::filesystem::path& certificate, const std::filesystem::path& key) {
  ContextResult result;
  ERR_clear_error();
  auto made = std::make_shared<TlsContext>(Made{});
  made->context_ = NewServerContext();
  if (!made->context_) {
    result.error = OpenSslError("cannot set up TLS");
    return result;
  }
  if (SSL_CTX_use_certificate_chain_file(made->context_, certificate.c_str()) != 1) {
    result.error = OpenSslError("cannot read the certificate " + certificate.string());
    return result;
  }
  if (SSL_CTX_use_PrivateKey_file(made->context_, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    result.error = OpenSslError("cannot read the key " + key.string());
    return result;
  }
  if (SSL_CTX_check_private_key(made->context_) != 1) {
    result.error = OpenSslError("the key " + key.string() + " does not belong to the certificate");
    return result;
  }
  made->fingerprint_ = Fingerprint(SSL_CTX_get0_certificate(made->context_));
  result.context = std::move(made);
  return result;
}

ContextResult TlsContext::SelfSigned() {
  ContextResult result;
  ERR_clear_error();
  auto pair = MakeSelfSigned(result.error);
  if (!pair) return result;
  auto made = std::make_shared<TlsContext>(Made{});
  made->context_ = NewServerContext();
  if (!made->context_ || SSL_CTX_use_certificate(made->context_, pair->certificate.get()) != 1 ||
      SSL_CTX_use_PrivateKey(made->context_, pair->key.get()) != 1) {
    result.error = OpenSslError("cannot set up TLS");
    return result;
  }
  made->fingerprint_ = Fingerprint(pair->certificate.get());
  result.context = std::move(made);
  return result;
}

std::string WriteSelfSigned(const std::filesystem::path& certificate, const std::filesystem::path& key) {
  std::string error;
  auto pair = MakeSelfSigned(error);
  if (!pair) return error;
  std::string key_pem = Pem([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, pair->key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  std::string certificate_pem = Pem([&](BIO* bio) { return PEM_write_bio_X509(bio, pair->certificate.get()); });
  if (key_pem.empty() || certificate_pem.empty()) return OpenSslError("cannot encode the certificate");
  unsigned char random[8];
  RAND_bytes(random, sizeof random);
  std::string temporary = key.string() + ".new-" + std::to_string(::getpid()) + "-";
  for (unsigned char byte : random) temporary += "0123456789abcdef"[byte & 15];
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return "cannot create " + temporary + ": " + std::strerror(errno);
  bool written = ::write(fd, key_pem.data(), key_pem.size()) == static_cast<ssize_t>(key_pem.size()) &&
                 ::fsync(fd) == 0;
  int write_error = errno;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), key.c_str()) != 0) {
    if (written) write_error = errno;
    ::unlink(temporary.c_str());
    return "cannot write " + key.string() + ": " + std::strerror(write_error);
  }
  if (int failed = platform::WriteFileAtomically(certificate, certificate_pem, 0644))
    return "cannot write " + certificate.string() + ": " + std::strerror(failed);
  return "";
}

}  // namespace talvek::tls
