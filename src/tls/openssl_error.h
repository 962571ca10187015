// OpenSSL's reason for the failure just seen, for the tls library's own use.
#pragma once

#include <string>

namespace talvek::tls {

// "`what`: reason" (or `what` alone when OpenSSL gave none); empties the
// thread's error queue, so the next failure is reported by itself.
std::string OpenSslError(const std::string& what);

}  // namespace talvek::tls
