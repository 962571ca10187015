// Whole-file replacement that a crash cannot tear: the new content goes to a
// temporary file beside the target, is flushed to disk, and is renamed over it.
#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

namespace talvek::platform {

// Writes `content` to `target` atomically with permission bits `mode`
// (applied to the new file). Creates missing parent directories.
// Returns 0 on success, else the errno of the step that failed; on failure
// the old file (if any) is left as it was.
int WriteFileAtomically(const std::filesystem::path& target, std::string_view content,
                        mode_t mode = 0644);

}  // namespace talvek::platform
