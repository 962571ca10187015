// The four fixed-size byte blocks of the settings store, as plain structs.
// pack/unpack convert to and from the stored bytes (32-bit little-endian
// integers) without losing any byte, unused fields and text tails included.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/registry_store.h"

namespace talvek::settings {

// "GeneralSettings": connection limits, time-out and filter switches.
struct GeneralSettings {
  static constexpr std::string_view kValueName = "GeneralSettings";
  static constexpr ValueType kStoreType = ValueType::None;
  static constexpr size_t kSize = 48;

  uint32_t recordFileLists = 0, monitorNew = 0, timeoutIdle = 0, limitPerAddress = 0;
  uint32_t filterEnabled = 0, runInBackground = 0, autoStart = 0, timeoutMinutes = 0;
  uint32_t maxConnections = 0, connectionsPerAddress = 0;
  uint32_t refuseNew = 0;    // 1 refuse the new connection, 0 close the oldest
  uint32_t blockListed = 0;  // 1 block listed addresses, 0 allow only listed ones

  std::vector<uint8_t> pack() const;
  static std::optional<GeneralSettings> unpack(std::span<const uint8_t> bytes);
  bool operator==(const GeneralSettings&) const = default;
};

// "NetSettings": server address and port.
struct NetSettings {
  static constexpr std::string_view kValueName = "NetSettings";
  static constexpr ValueType kStoreType = ValueType::None;
  static constexpr size_t kSize = 56;

  std::array<char, 32> address{};  // NUL-terminated dotted address
  uint32_t port = 0, alwaysUsePort = 0, useAsDefault = 0, unused44 = 0, disablePasv = 0, unused52 = 0;

  std::string addressText() const;
  // Stores the text NUL-terminated and zero-filled; false (unchanged) above 31 characters.
  bool setAddressText(std::string_view text);
  std::vector<uint8_t> pack() const;
  static std::optional<NetSettings> unpack(std::span<const uint8_t> bytes);
  bool operator==(const NetSettings&) const = default;
};

// "CacheSettings": sizes and refresh periods of the two caches.
struct CacheSettings {
  static constexpr std::string_view kValueName = "CacheSettings";
  static constexpr ValueType kStoreType = ValueType::Binary;
  static constexpr size_t kSize = 36;

  uint32_t dirCacheKB = 0, fileCacheKB = 0, dirRefreshMinutes = 0, fileRefreshMinutes = 0;
  uint32_t overflowPercent = 0, cacheDirs = 0, cacheFiles = 0, autoRefreshDirs = 0, autoRefreshFiles = 0;

  // What a store without the block means: 500, 4000, 60, 240, 25, 1, 0, 0, 0.
  static CacheSettings Defaults();
  std::vector<uint8_t> pack() const;
  static std::optional<CacheSettings> unpack(std::span<const uint8_t> bytes);
  bool operator==(const CacheSettings&) const = default;
};

// "Anonymous": the anonymous user's switch, rights (1 read, 2 write, 4 delete) and root.
struct AnonymousSettings {
  static constexpr std::string_view kValueName = "Anonymous";
  static constexpr ValueType kStoreType = ValueType::Binary;
  static constexpr size_t kSize = 272;

  uint32_t unused0 = 0;
  uint32_t allow = 0;
  uint8_t rights = 0;
  std::array<char, 263> root{};  // NUL-terminated; empty means the FTP root

  std::string rootText() const;
  // Stores the text NUL-terminated and zero-filled; false (unchanged) above 262 characters.
  bool setRootText(std::string_view text);
  std::vector<uint8_t> pack() const;
  static std::optional<AnonymousSettings> unpack(std::span<const uint8_t> bytes);
  bool operator==(const AnonymousSettings&) const = default;
};

}  // namespace talvek::settings
