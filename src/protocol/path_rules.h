// The lexical rules by which client paths become paths below a session's
// root: pure text functions with no file system access (the kernel has the
// last word, see platform/confined_fs.h). Relative paths here have no
// leading or trailing "/"; "" is the directory itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvek::ftp {

// The path check of the navigation, directory and transfer commands: turns
// `argument` in place into a path relative to the current directory (no
// leading or trailing "/", or empty). Backslashes count as separators.
// False (argument unchanged) when it contains "..".
bool CheckPath(std::string& argument, const std::string& current_directory, const std::string& ftp_root);

// A client path as the commands without the path check (DELE, RNFR, RNTO)
// take it: relative to `working` (a relative path), or to the root when it
// begins with a separator; "." and ".." resolved lexically. Nothing when it
// climbs above the root or holds a NUL byte.
std::optional<std::string> ClientPathBelowRoot(std::string_view working, std::string_view client_path);

// `relative` below `directory`, both relative paths.
std::string JoinPath(const std::string& directory, const std::string& relative);

// `absolute` (a local directory path) relative to `root` (ending with "/"),
// or nothing when it does not lie below it.
std::optional<std::string> BelowRoot(const std::string& root, const std::string& absolute);

// The working directory as PWD shows it: below the FTP root, "/" for the root.
std::string DisplayedPath(const std::string& current_directory, const std::string& ftp_root);

}  // namespace talvek::ftp
