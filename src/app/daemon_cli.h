// The daemon's command line: global options, then optionally a subcommand
// ("config", "accounts", "filter") with its own arguments.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/program_options.h"

namespace talvek::settings {
class RegistryStore;
}

namespace talvek::app {

struct DaemonOptions {
  std::optional<std::filesystem::path> settings_file;
  std::optional<std::filesystem::path> program_directory;
  std::optional<std::string> root;
  std::optional<uint16_t> port;
  bool auto_start = false;
  bool background = false;
  bool help = false;
  bool version = false;
  LogFormat log_format = LogFormat::kAutomatic;
  std::string subcommand;  // empty: run the server
  std::vector<std::string> subcommand_args;
};

struct ParseResult {
  std::optional<DaemonOptions> options;
  std::string error;  // set when options is empty
};

ParseResult ParseDaemonArguments(const std::vector<std::string>& args);

// --settings, else $TALVEK_FTP_SETTINGS, else
// $XDG_CONFIG_HOME (or ~/.config)/Talvek/Talvek FTP/settings.reg.
std::filesystem::path ResolveSettingsFile(const DaemonOptions& options);
// Puts --root, --port and the accounts file default into `store` before the
// server reads it, so they persist. Returns an error text or "".
std::string ApplyStartOptions(const DaemonOptions& options, settings::RegistryStore& store);

}  // namespace talvek::app
