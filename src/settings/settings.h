// The server's settings as one value, and their loading from and saving to
// the settings key of the store. The caller owns both the store and the value.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/registry_store.h"
#include "settings/settings_blocks.h"

namespace talvek::settings {

// The failed-login throttle, beyond the classic settings and off by default:
// a pause before each refused PASS is answered, and a temporary ban of an
// address that collects `banFailures` refused passwords within the window.
struct LoginThrottleSettings {
  uint32_t failDelaySeconds = 0;  // 0: answer at once
  uint32_t banFailures = 0;       // 0: never ban
  uint32_t banWindowMinutes = 10;
  uint32_t banMinutes = 30;
};

// Where the server listens and what its passive listeners may use, beyond
// the classic settings: the IPv6 listener, and the port range and address
// that let it work behind a router.
struct NetworkSettings {
  uint32_t listenIpv6 = 1;      // also listen on [::] (or ::1 beside 127.0.0.1)
  uint32_t passivePortMin = 0;  // 0: from 1024 (both 0: any free port)
  uint32_t passivePortMax = 0;  // 0: up to 65535
  std::string passiveAddress;   // what PASV advertises; empty: the local address
};

// Explicit FTPS: off (0), allowed (1) or required before login and for
// data (2); empty paths: a self-signed certificate made at start.
struct TlsSettings {
  uint32_t mode = 1;
  std::string certificateFile, keyFile;
  uint32_t requireSessionReuse = 0;  // data connections must resume the control session
};

struct Settings {
  CacheSettings cache = CacheSettings::Defaults();
  uint32_t enableLog = 0, sendLogonMsg = 0;
  std::string ftpRootDir, uploadsDir, logonFile, logPath, msgFilePath;
  AnonymousSettings anonymous{};
  GeneralSettings general{};
  NetSettings net{};
  LoginThrottleSettings loginThrottle{};
  NetworkSettings network{};
  TlsSettings tls{};
  uint32_t redirUploads = 0, graphBkColor = 16777215, graphForeColor = 0;
};

// Missing texts read as empty and missing numbers as their defaults; a missing
// (or wrongly sized) block leaves its field as it was, except the cache block,
// which becomes CacheSettings::Defaults(). Without "Always use this port" the
// port is 21.
void LoadSettings(const RegistryStore& store, Settings& settings);
// Writes every value LoadSettings reads; other values of the key stay.
void SaveSettings(RegistryStore& store, const Settings& settings);

// The settings a running program started from (or last re-read), as
// SaveSettings writes them, so that `mine` differs only where it changed.
RegistryStore NormalisedCopy(const RegistryStore& store);
// Writes over the settings file what `mine` changed since `base`, merged
// into the file as it is on disk now, under the file's edit lock: whatever
// another program saved meanwhile stays. Returns 0 or errno.
int SaveChangesOverDisk(const RegistryStore& base, const RegistryStore& mine);
// Makes `change` to `store` and writes just that change over the file as it
// is on disk (as SaveChangesOverDisk): for saves while the program runs.
int SaveChangeOverDisk(RegistryStore& store, const std::function<void(RegistryStore&)>& change);

// Why the passive port range of `settings` cannot be used, or "".
std::string PassiveRangeProblem(const NetworkSettings& settings);

std::string ReadDefaultIp(const RegistryStore& store);
void WriteDefaultIp(RegistryStore& store, std::string_view address);
// The first-start marker: 1 until the defaults were imported.
uint32_t ReadNewInstall(const RegistryStore& store);
void WriteNewInstall(RegistryStore& store, uint32_t value);

// "" stays ""; any other path gets a trailing "/" when it has none.
std::string WithTrailingSlash(std::string path);

// A block of the settings key, or nothing when missing or of the wrong size.
template <typename Block>
std::optional<Block> ReadBlock(const RegistryStore& store) {
  std::optional<std::vector<uint8_t>> bytes = store.getBinary(kSettingsKey, Block::kValueName);
  return bytes ? Block::unpack(*bytes) : std::nullopt;
}

template <typename Block>
void WriteBlock(RegistryStore& store, const Block& block) {
  store.setBinary(kSettingsKey, Block::kValueName, block.pack(), Block::kStoreType);
}

}  // namespace talvek::settings
