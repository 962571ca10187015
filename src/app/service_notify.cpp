#include "app/service_notify.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace talvek::app {

bool NotifyServiceManager(const std::string& state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (!path || (path[0] != '/' && path[0] != '@')) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t length = std::strlen(path);
  if (length >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path, length);
  if (path[0] == '@') address.sun_path[0] = '\0';  // an abstract socket name
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  auto address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  ssize_t sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                          address_length);
  ::close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

LogFormat ResolveLogFormat(LogFormat requested) {
  if (requested != LogFormat::kAutomatic) return requested;
  const char* stream = std::getenv("JOURNAL_STREAM");
  struct stat output {};
  unsigned long long device = 0, inode = 0;
  if (!stream || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2 || ::fstat(STDOUT_FILENO, &output) != 0)
    return LogFormat::kPlain;
  return output.st_dev == device && output.st_ino == inode ? LogFormat::kJournal : LogFormat::kPlain;
}

}  // namespace talvek::app
