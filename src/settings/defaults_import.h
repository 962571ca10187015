// First-start seeding of the settings store from a "defaults.reg" file in
// registry-export syntax. The importer only fills the store; callers save it.
#pragma once

#include <filesystem>

#include "settings/registry_store.h"

namespace talvek::settings {

struct ImportResult {
  bool fileOpened = false;
  int valuesImported = 0;
};

// Imports every key of the file into `store`, whatever root its header names.
// Strings are taken literally (no escapes); byte values become type 3.
// Lines it cannot read are skipped.
ImportResult ImportDefaults(const std::filesystem::path& regFile, RegistryStore& store);

// When "NewInstall" is not 0: imports programDir/"defaults.reg" (if any), sets
// "NewInstall" to 0 and saves. Returns whether that happened.
bool RunFirstStartImport(RegistryStore& store, const std::filesystem::path& programDir);

}  // namespace talvek::settings
