// How client paths become local paths. The client moves through the local
// tree below its root; every local path a command touches is checked to lie
// inside that root, symbolic links resolved, before anything is done.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvek::server {
struct ConnectionRecord;
}

namespace talvek::ftp {

// The path check of the navigation, directory and transfer commands: turns
// `argument` in place into a path relative to the current directory (no
// leading or trailing "/", or empty). Backslashes count as separators.
// False (argument unchanged) when it contains "..".
bool CheckPath(std::string& argument, const std::string& current_directory, const std::string& ftp_root);

// Client separators to local ones: every "\" becomes "/".
std::string WithLocalSeparators(std::string_view client_path);

// True when `path` names a directory that can be entered.
bool DirectoryExists(const std::string& path);
// True when something (file, directory, link) exists at `path`.
bool EntryExists(const std::string& path);

// `local_path` with "." and ".." resolved, when it and whatever symbolic
// links it passes through stay inside `root` (a directory path ending in
// "/"); nothing otherwise. Missing trailing components are allowed, so a
// path about to be created can be checked too.
std::optional<std::string> ConfineToRoot(const std::string& root, const std::string& local_path);

// The root a connection is held to: its user's root after login, the FTP
// root before.
std::string ConfinementRoot(const server::ConnectionRecord& record, const std::string& ftp_root);

// The local path for a client path that commands use without the path
// check (DELE, RNFR, RNTO): relative to the current directory, or to the
// root when it begins with a separator; confined to the connection's root.
std::optional<std::string> ResolveClientPath(const server::ConnectionRecord& record, std::string_view client_path,
                                             const std::string& ftp_root);

// The working directory as PWD shows it: below the FTP root, "/" for the root.
std::string DisplayedPath(const std::string& current_directory, const std::string& ftp_root);

}  // namespace talvek::ftp
