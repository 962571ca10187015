// Where the program's own files are. Read-only data (defaults.reg, the HELP
// ini, the help page) and files the operator's tools rewrite (Filters.txt)
// share one directory beside a build or unpacked copy; installed under a
// prefix the data is read from share/talvek-ftp and the writable files live
// beside the settings file (the per-user configuration directory, or the
// service's state directory), never under the prefix.
#pragma once

#include <filesystem>
#include <optional>

namespace talvek::app {

struct ProgramDirectories {
  std::filesystem::path data;      // defaults.reg, talvek-ftpd.ini, README.md
  std::filesystem::path writable;  // Filters.txt
};

// `given` (--program-dir or $TALVEK_FTP_HOME) holds both. Otherwise the first
// directory holding defaults.reg of: the executable's directory, its
// ../share/talvek-ftp, and the data directory compiled in; with the first,
// writable files stay beside the executable, with the others they go to
// `settings_file`'s directory.
ProgramDirectories ResolveProgramDirectories(const std::optional<std::filesystem::path>& given,
                                             const std::filesystem::path& settings_file);

}  // namespace talvek::app
