#include "app/daemon_cli.h"

#include <cstdlib>

#include "settings/settings.h"
#include "settings/settings_blocks.h"

namespace talvek::app {

namespace {

std::optional<uint16_t> ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

ParseResult ParseDaemonArguments(const std::vector<std::string>& args) {
  DaemonOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      (void)name;
      return args[++i];
    };
    if (arg == "--settings" || arg == "--program-dir" || arg == "--root" || arg == "--port" ||
        arg == "--log-format") {
      auto given = value(arg.c_str());
      if (!given || given->empty()) return {std::nullopt, arg + " needs a value"};
      if (arg == "--settings") options.settings_file = *given;
      if (arg == "--program-dir") options.program_directory = *given;
      if (arg == "--root") options.root = *given;
      if (arg == "--log-format") {
        auto format = ParseLogFormat(*given);
        if (!format) return {std::nullopt, "--log-format needs auto, plain or journal, not '" + *given + "'"};
        options.log_format = *format;
      }
      if (arg == "--port") {
        options.port = ParsePort(*given);
        if (!options.port) return {std::nullopt, "--port needs a number from 1 to 65535, not '" + *given + "'"};
      }
    } else if (arg == "-s" || arg == "--auto-start" || arg == "/s") {
      options.auto_start = true;
    } else if (arg == "-b" || arg == "--background" || arg == "/b") {
      options.background = true;
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "reload" && i + 1 == args.size()) {
      options.subcommand = arg;
    } else if (arg == "config" || arg == "accounts" || arg == "filter") {
      options.subcommand = arg;
      options.subcommand_args.assign(args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else {
      return {std::nullopt, "unknown argument '" + arg + "'"};
    }
  }
  return {options, {}};
}

std::filesystem::path ResolveSettingsFile(const DaemonOptions& options) {
  if (options.settings_file) return std::filesystem::absolute(*options.settings_file);
  if (auto from_environment = EnvironmentValue("TALVEK_FTP_SETTINGS"); !from_environment.empty())
    return std::filesystem::absolute(from_environment);
  std::filesystem::path base = EnvironmentValue("XDG_CONFIG_HOME");
  if (base.empty() || base.is_relative()) {
    std::string home = EnvironmentValue("HOME");
    base = std::filesystem::path(home.empty() ? "." : home) / ".config";
  }
  return base / "Talvek" / "Talvek FTP" / "settings.reg";
}

std::string ApplyStartOptions(const DaemonOptions& options, settings::RegistryStore& store) {
  if (options.root) {
    std::error_code error;
    auto root = std::filesystem::weakly_canonical(std::filesystem::absolute(*options.root), error);
    if (error || !std::filesystem::is_directory(root, error))
      return "--root: '" + *options.root + "' is not a directory";
    store.setString(settings::kSettingsKey, "FTPRootDir", settings::WithTrailingSlash(root.string()));
  }
  if (options.port) {
    auto net = settings::ReadBlock<settings::NetSettings>(store).value_or(settings::NetSettings{});
    net.port = *options.port;
    net.alwaysUsePort = 1;
    settings::WriteBlock(store, net);
  }
  settings::Settings current;
  settings::LoadSettings(store, current);
  if (current.logonFile.empty())
    store.setString(settings::kSettingsKey, "LogonFile", (store.file().parent_path() / "accounts.lgn").string());
  return {};
}

}  // namespace talvek::app
