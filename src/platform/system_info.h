// Facts about the host that the server reads once at start-up.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace talvek::platform {

// Serial number of the system volume: the low 32 bits of the root file
// system's id. It keys the accounts file to this machine. 0 if unknown.
uint32_t SystemVolumeSerial();

// Directory holding the running executable, or the current directory when
// that cannot be found.
std::filesystem::path ExecutableDirectory();

// The executable's file name without directory ("talvek-ftpd").
std::string ExecutableName();

// The local host name, empty on failure.
std::string LocalHostName();

// Dotted IPv4 addresses of this host: those the host name resolves to, then
// the interface addresses not already listed. Empty when none are found.
std::vector<std::string> LocalIPv4Addresses(const std::string& host_name);

}  // namespace talvek::platform
