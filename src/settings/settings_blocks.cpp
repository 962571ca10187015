#include "settings/settings_blocks.h"

#include <algorithm>

namespace talvek::settings {

namespace {

// Appends fields in block order.
class BlockWriter {
 public:
  explicit BlockWriter(size_t size) { bytes_.reserve(size); }
  BlockWriter& u32(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
  }
  BlockWriter& u8(uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  template <size_t N>
  BlockWriter& text(const std::array<char, N>& chars) {
    for (char c : chars) bytes_.push_back(static_cast<uint8_t>(c));
    return *this;
  }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// Takes fields in block order; the caller has checked the size.
class BlockReader {
 public:
  explicit BlockReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t u32() {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes_[at_ + i];
    at_ += 4;
    return value;
  }
  uint8_t u8() { return bytes_[at_++]; }
  template <size_t N>
  void text(std::array<char, N>& chars) {
    for (char& c : chars) c = static_cast<char>(bytes_[at_++]);
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

template <size_t N>
std::string TextOf(const std::array<char, N>& chars) {
  auto end = std::find(chars.begin(), chars.end(), '\0');
  return std::string(chars.begin(), end);
}

template <size_t N>
bool SetText(std::array<char, N>& chars, std::string_view text) {
  if (text.size() >= N) return false;
  chars.fill('\0');
  std::copy(text.begin(), text.end(), chars.begin());
  return true;
}

}  // namespace

std::vector<uint8_t> GeneralSettings::pack() const {
  return BlockWriter(kSize)
      .u32(recordFileLists).u32(monitorNew).u32(timeoutIdle).u32(limitPerAddress)
      .u32(filterEnabled).u32(runInBackground).u32(autoStart).u32(timeoutMinutes)
      .u32(maxConnections).u32(connectionsPerAddress).u32(refuseNew).u32(blockListed)
      .take();
}

std::optional<GeneralSettings> GeneralSettings::unpack(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  BlockReader in(bytes);
  GeneralSettings s;
  for (uint32_t* field : {&s.recordFileLists, &s.monitorNew, &s.timeoutIdle, &s.limitPerAddress,
                          &s.filterEnabled, &s.runInBackground, &s.autoStart, &s.timeoutMinutes,
                          &s.maxConnections, &s.connectionsPerAddress, &s.refuseNew, &s.blockListed}) {
    *field = in.u32();
  }
  return s;
}

std::string NetSettings::addressText() const { return TextOf(address); }
bool NetSettings::setAddressText(std::string_view text) { return SetText(address, text); }

std::vector<uint8_t> NetSettings::pack() const {
  return BlockWriter(kSize)
      .text(address).u32(port).u32(alwaysUsePort).u32(useAsDefault).u32(unused44)
      .u32(disablePasv).u32(unused52)
      .take();
}

std::optional<NetSettings> NetSettings::unpack(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  BlockReader in(bytes);
  NetSettings s;
  in.text(s.address);
  for (uint32_t* field : {&s.port, &s.alwaysUsePort, &s.useAsDefault, &s.unused44, &s.disablePasv,
                          &s.unused52}) {
    *field = in.u32();
  }
  return s;
}

CacheSettings CacheSettings::Defaults() {
  CacheSettings s;
  s.dirCacheKB = 500;
  s.fileCacheKB = 4000;
  s.dirRefreshMinutes = 60;
  s.fileRefreshMinutes = 240;
  s.overflowPercent = 25;
  s.cacheDirs = 1;
  return s;
}

std::vector<uint8_t> CacheSettings::pack() const {
  return BlockWriter(kSize)
      .u32(dirCacheKB).u32(fileCacheKB).u32(dirRefreshMinutes).u32(fileRefreshMinutes)
      .u32(overflowPercent).u32(cacheDirs).u32(cacheFiles).u32(autoRefreshDirs).u32(autoRefreshFiles)
      .take();
}

std::optional<CacheSettings> CacheSettings::unpack(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  BlockReader in(bytes);
  CacheSettings s;
  for (uint32_t* field : {&s.dirCacheKB, &s.fileCacheKB, &s.dirRefreshMinutes, &s.fileRefreshMinutes,
                          &s.overflowPercent, &s.cacheDirs, &s.cacheFiles, &s.autoRefreshDirs,
                          &s.autoRefreshFiles}) {
    *field = in.u32();
  }
  return s;
}

std::string AnonymousSettings::rootText() const { return TextOf(root); }
bool AnonymousSettings::setRootText(std::string_view text) { return SetText(root, text); }

std::vector<uint8_t> AnonymousSettings::pack() const {
  return BlockWriter(kSize).u32(unused0).u32(allow).u8(rights).text(root).take();
}

std::optional<AnonymousSettings> AnonymousSettings::unpack(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize) return std::nullopt;
  BlockReader in(bytes);
  AnonymousSettings s;
  s.unused0 = in.u32();
  s.allow = in.u32();
  s.rights = in.u8();
  in.text(s.root);
  return s;
}

}  // namespace talvek::settings
