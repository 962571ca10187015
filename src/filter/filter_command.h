// The daemon's "filter" subcommand: the operator's headless editor for
// "Filters.txt" and the two filter settings. Patterns are given and shown in
// wildcard form ("*" for one or more digits).
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace talvek::filter {

// `args` follow "filter": "list", "add PATTERN", "remove PATTERN", "enable",
// "disable" or "mode block|allow". Returns 0 on success (a changed list is
// saved to `filtersFile`; the caller saves the flags when they changed);
// 2 for a usage error, an empty, duplicate, unknown or invalid pattern, with
// nothing changed; 1 when the file cannot be read or written.
int RunFilterCommand(const std::vector<std::string>& args, const std::filesystem::path& filtersFile,
                     uint32_t& filterEnabled, uint32_t& blockListed, std::ostream& out,
                     std::ostream& err);

}  // namespace talvek::filter
