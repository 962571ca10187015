// The daemon's "config" subcommand: lists, reads and changes single settings
// directly in the store (raw stored values, no load-time rules applied).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "settings/registry_store.h"

namespace talvek::settings {

// `args` follow "config": "list", "get NAME" or "set NAME VALUE". Returns 0 on
// success (a changed store is saved); 2 for a usage error, unknown name or
// invalid value, with the store and its file untouched; 1 when saving fails.
int RunConfigCommand(const std::vector<std::string>& args, RegistryStore& store, std::ostream& out,
                     std::ostream& err);

}  // namespace talvek::settings
