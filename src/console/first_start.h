// The first start after installation: while the settings are seeded from
// "defaults.reg", a notice says so and the cursor waits.
#pragma once

#include <filesystem>

#include "settings/registry_store.h"

class QWidget;

namespace talvek::console {

inline constexpr const char* kFirstStartNotice = "Completing Talvek FTP setup...";

// When "NewInstall" is not 0: shows the notice, imports the defaults, sets
// "NewInstall" to 0 and saves the store. Returns whether it ran.
bool RunFirstStartWithNotice(settings::RegistryStore& store, const std::filesystem::path& program_directory,
                             QWidget* parent);

}  // namespace talvek::console
