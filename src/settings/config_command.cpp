#include "settings/config_command.h"

#include <cstring>
#include <functional>
#include <type_traits>

#include "settings/config_values.h"
#include "settings/settings.h"

namespace talvek::settings {

namespace {

using config::CheckedValue;
using config::Rule;

// One name of the config command: how to show it and how to store a checked value.
struct ConfigEntry {
  std::string name;
  Rule rule;
  std::function<std::string(const RegistryStore&)> get;
  std::function<bool(RegistryStore&, const CheckedValue&)> put;
};

// What a missing or wrongly sized block counts as.
template <typename Block>
Block StoredOrFallback(const RegistryStore& store) {
  if (std::optional<Block> block = ReadBlock<Block>(store)) return *block;
  if constexpr (std::is_same_v<Block, CacheSettings>) return CacheSettings::Defaults();
  return Block{};
}

ConfigEntry TextValue(std::string name, Rule rule) {
  return {name, rule,
          [name](const RegistryStore& s) { return s.getString(kSettingsKey, name).value_or(""); },
          [name](RegistryStore& s, const CheckedValue& v) { return s.setString(kSettingsKey, name, v.text); }};
}

ConfigEntry DwordValue(std::string name, Rule rule, uint32_t fallback) {
  return {name, rule,
          [name, fallback](const RegistryStore& s) {
            return std::to_string(s.getDword(kSettingsKey, name).value_or(fallback));
          },
          [name](RegistryStore& s, const CheckedValue& v) { return s.setDword(kSettingsKey, name, v.number); }};
}

// A numeric field of a block; setting it rewrites the block keeping its other bytes.
template <typename Block, typename Field>
ConfigEntry BlockField(std::string_view field, Rule rule, Field Block::*member) {
  return {std::string(Block::kValueName) + "." + std::string(field), rule,
          [member](const RegistryStore& s) { return std::to_string(StoredOrFallback<Block>(s).*member); },
          [member](RegistryStore& s, const CheckedValue& v) {
            Block block = StoredOrFallback<Block>(s);
            block.*member = static_cast<Field>(v.number);
            WriteBlock(s, block);
            return true;
          }};
}

ConfigEntry NetAddress() {
  return {"NetSettings.Address", Rule::Address,
          [](const RegistryStore& s) { return StoredOrFallback<NetSettings>(s).addressText(); },
          [](RegistryStore& s, const CheckedValue& v) {
            NetSettings block = StoredOrFallback<NetSettings>(s);
            if (!block.setAddressText(v.text)) return false;
            WriteBlock(s, block);
            return true;
          }};
}

ConfigEntry AnonymousRoot() {
  return {"Anonymous.Root", Rule::AnonRoot,
          [](const RegistryStore& s) { return StoredOrFallback<AnonymousSettings>(s).rootText(); },
          [](RegistryStore& s, const CheckedValue& v) {
            AnonymousSettings block = StoredOrFallback<AnonymousSettings>(s);
            if (!block.setRootText(v.text)) return false;
            WriteBlock(s, block);
            return true;
          }};
}

std::vector<ConfigEntry> BuildEntries() {
  using G = GeneralSettings;
  using N = NetSettings;
  using C = CacheSettings;
  using A = AnonymousSettings;
  return {
      TextValue("FTPRootDir", Rule::Directory),
      TextValue("UploadsDir", Rule::Directory),
      TextValue("LogPath", Rule::Text),
      TextValue("MsgFilePath", Rule::Text),
      TextValue("LogonFile", Rule::Text),
      TextValue("DefaultIP", Rule::Address),
      DwordValue("RedirUploads", Rule::Flag, 0),
      DwordValue("SendLogonMsg", Rule::Flag, 0),
      DwordValue("EnableLog", Rule::Flag, 0),
      DwordValue("GraphBkColor", Rule::Number, 16777215),
      DwordValue("GraphForeColor", Rule::Number, 0),
      DwordValue("NewInstall", Rule::Number, 1),
      DwordValue("LoginFailDelaySeconds", Rule::Seconds, 0),
      DwordValue("LoginBanFailures", Rule::Count, 0),
      DwordValue("LoginBanWindowMinutes", Rule::Minutes, 10),
      DwordValue("LoginBanMinutes", Rule::Minutes, 30),
      DwordValue("ListenIPv6", Rule::Flag, 1),
      DwordValue("PassivePortMin", Rule::AnyPort, 0),
      DwordValue("PassivePortMax", Rule::AnyPort, 0),
      TextValue("PassiveAddress", Rule::Address),
      DwordValue("TlsMode", Rule::TlsMode, 1),
      TextValue("TlsCertificateFile", Rule::FilePath),
      TextValue("TlsKeyFile", Rule::FilePath),
      DwordValue("TlsRequireSessionReuse", Rule::Flag, 0),
      BlockField("RecordFileLists", Rule::Flag, &G::recordFileLists),
      BlockField("MonitorNew", Rule::Flag, &G::monitorNew),
      BlockField("TimeoutIdle", Rule::Flag, &G::timeoutIdle),
      BlockField("LimitPerAddress", Rule::Flag, &G::limitPerAddress),
      BlockField("FilterEnabled", Rule::Flag, &G::filterEnabled),
      BlockField("RunInBackground", Rule::Flag, &G::runInBackground),
      BlockField("AutoStart", Rule::Flag, &G::autoStart),
      BlockField("TimeoutMinutes", Rule::Number, &G::timeoutMinutes),
      BlockField("MaxConnections", Rule::Number, &G::maxConnections),
      BlockField("ConnectionsPerAddress", Rule::Number, &G::connectionsPerAddress),
      BlockField("RefuseNew", Rule::Flag, &G::refuseNew),
      BlockField("BlockListed", Rule::Flag, &G::blockListed),
      NetAddress(),
      BlockField("Port", Rule::Port, &N::port),
      BlockField("AlwaysUsePort", Rule::Flag, &N::alwaysUsePort),
      BlockField("UseAsDefault", Rule::Flag, &N::useAsDefault),
      BlockField("DisablePASV", Rule::Flag, &N::disablePasv),
      BlockField("DirCacheKB", Rule::Number, &C::dirCacheKB),
      BlockField("FileCacheKB", Rule::Number, &C::fileCacheKB),
      BlockField("DirRefreshMinutes", Rule::Number, &C::dirRefreshMinutes),
      BlockField("FileRefreshMinutes", Rule::Number, &C::fileRefreshMinutes),
      BlockField("OverflowPercent", Rule::Percent, &C::overflowPercent),
      BlockField("CacheDirs", Rule::Flag, &C::cacheDirs),
      BlockField("CacheFiles", Rule::Flag, &C::cacheFiles),
      BlockField("AutoRefreshDirs", Rule::Flag, &C::autoRefreshDirs),
      BlockField("AutoRefreshFiles", Rule::Flag, &C::autoRefreshFiles),
      BlockField("Allow", Rule::Flag, &A::allow),
      BlockField("Rights", Rule::Rights, &A::rights),
      AnonymousRoot(),
  };
}

const ConfigEntry* FindEntry(const std::vector<ConfigEntry>& entries, std::string_view name) {
  for (const ConfigEntry& entry : entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

constexpr int kUsageError = 2;

int Usage(std::ostream& err) {
  err << "usage: config list | config get NAME | config set NAME VALUE\n";
  return kUsageError;
}

int Set(const ConfigEntry& entry, std::string_view input, RegistryStore& store, std::ostream& err) {
  std::string problem;
  std::optional<CheckedValue> value = config::CheckValue(entry.rule, input, problem);
  if (!value) {
    err << "config: invalid value for " << entry.name << ": " << problem << "\n";
    return kUsageError;
  }
  // Change a copy so that a refused value leaves the caller's store as it was.
  RegistryStore changed = store;
  if (!entry.put(changed, *value)) {
    err << "config: invalid value for " << entry.name << "\n";
    return kUsageError;
  }
  // The ends of the passive range are fine alone but must fit together.
  Settings loaded;
  LoadSettings(changed, loaded);
  std::string conflict = entry.name.rfind("PassivePort", 0) == 0 ? PassiveRangeProblem(loaded.network) : "";
  if (!conflict.empty()) {
    err << "config: invalid value for " << entry.name << ": " << conflict << "\n";
    return kUsageError;
  }
  if (int error = changed.save()) {
    err << "config: cannot save " << changed.file().string() << ": " << std::strerror(error) << "\n";
    return 1;
  }
  store = std::move(changed);
  return 0;
}

}  // namespace

int RunConfigCommand(const std::vector<std::string>& args, RegistryStore& store, std::ostream& out,
                     std::ostream& err) {
  const std::vector<ConfigEntry> entries = BuildEntries();
  if (args.size() == 1 && args[0] == "list") {
    for (const ConfigEntry& entry : entries) out << entry.name << "=" << entry.get(store) << "\n";
    return 0;
  }
  bool isGet = args.size() == 2 && args[0] == "get";
  bool isSet = args.size() == 3 && args[0] == "set";
  if (!isGet && !isSet) return Usage(err);
  const ConfigEntry* entry = FindEntry(entries, args[1]);
  if (entry == nullptr) {
    err << "config: unknown setting \"" << args[1] << "\"\n";
    return kUsageError;
  }
  if (isGet) {
    out << entry->get(store) << "\n";
    return 0;
  }
  return Set(*entry, args[2], store, err);
}

}  // namespace talvek::settings
