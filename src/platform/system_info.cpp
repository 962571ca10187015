#include "platform/system_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace talvek::platform {

uint32_t SystemVolumeSerial() {
  struct statvfs info {};
  if (::statvfs("/", &info) != 0) return 0;
  return static_cast<uint32_t>(info.f_fsid & 0xffffffffu);
}

std::filesystem::path ExecutableDirectory() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path(error);
  return self.parent_path();
}

std::string ExecutableName() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "talvek-ftpd";
  return self.filename().string();
}

std::string LocalHostName() {
  std::array<char, 257> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) return {};
  return std::string(name.data());
}

namespace {

std::string Dotted(const in_addr& address) {
  std::array<char, INET_ADDRSTRLEN> text{};
  ::inet_ntop(AF_INET, &address, text.data(), text.size());
  return text.data();
}

void AddUnique(std::vector<std::string>& list, std::string address) {
  if (std::find(list.begin(), list.end(), address) == list.end()) list.push_back(std::move(address));
}

}  // namespace

std::vector<std::string> LocalIPv4Addresses(const std::string& host_name) {
  std::vector<std::string> addresses;
  if (!host_name.empty()) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host_name.c_str(), nullptr, &hints, &found) == 0) {
      for (auto* entry = found; entry; entry = entry->ai_next)
        AddUnique(addresses, Dotted(reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr));
      ::freeaddrinfo(found);
    }
  }
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) == 0) {
    for (auto* entry = interfaces; entry; entry = entry->ifa_next) {
      if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
        AddUnique(addresses, Dotted(reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr));
    }
    ::freeifaddrs(interfaces);
  }
  return addresses;
}

}  // namespace talvek::platform
