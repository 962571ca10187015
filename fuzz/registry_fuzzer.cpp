// The settings store's file text and the first-start defaults import.
// Whatever the text, what is read survives being written and read again
// exactly; the settings loaded from it save and load to the same text; and
// the importer fills a store that round-trips the same way.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "settings/defaults_import.h"
#include "settings/registry_store.h"
#include "settings/settings.h"

namespace {

namespace st = talvek::settings;

void CheckRoundTrip(const std::vector<st::RegistryKey>& keys) {
  std::string text = st::FormatRegistryText(keys);
  std::vector<st::RegistryKey> again = st::ParseRegistryText(text);
  FUZZ_CHECK(again == keys, "formatted keys parse back exactly");
  FUZZ_CHECK(st::FormatRegistryText(again) == text, "and format to the same text");
}

st::RegistryStore StoreOf(const std::vector<st::RegistryKey>& keys) {
  st::RegistryStore store{std::filesystem::path()};
  for (const auto& key : keys) {
    FUZZ_CHECK(store.createKey(key.path), "a parsed key path is acceptable");
    for (const auto& value : key.values)
      FUZZ_CHECK(store.setRaw(key.path, value.name, value.type, value.data), "a parsed value is acceptable");
  }
  return store;
}

// Settings loaded from the store save to a text that loads and saves to itself.
void CheckSettings(const st::RegistryStore& store) {
  st::Settings settings;
  st::LoadSettings(store, settings);
  st::RegistryStore saved{std::filesystem::path()};
  st::SaveSettings(saved, settings);
  st::Settings reloaded;
  st::LoadSettings(saved, reloaded);
  st::RegistryStore saved_again{std::filesystem::path()};
  st::SaveSettings(saved_again, reloaded);
  FUZZ_CHECK(saved_again.keys() == saved.keys(), "settings save and load to a fixed point");
}

// The importer reads a file; an in-memory one spares the disk.
const std::string& ImportFile(std::string_view text) {
  static int fd = ::memfd_create("defaults.reg", 0);
  static std::string path = "/proc/self/fd/" + std::to_string(fd);
  FUZZ_CHECK(fd >= 0 && ::ftruncate(fd, 0) == 0, "memory file");
  FUZZ_CHECK(::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()), "memory file write");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<st::RegistryKey> keys = st::ParseRegistryText(text);
  CheckRoundTrip(keys);
  st::RegistryStore parsed = StoreOf(keys);
  FUZZ_CHECK(parsed.keys() == keys, "the store holds what was parsed");
  CheckSettings(parsed);

  st::RegistryStore imported{std::filesystem::path()};
  st::ImportResult result = st::ImportDefaults(ImportFile(text), imported);
  FUZZ_CHECK(result.fileOpened, "the import file opens");
  size_t values = 0;
  for (const auto& key : imported.keys()) values += key.values.size();
  FUZZ_CHECK(static_cast<size_t>(result.valuesImported) >= values, "every stored value was counted");
  CheckRoundTrip(imported.keys());
  CheckSettings(imported);
  return 0;
}
