#include "settings/settings.h"

#include <cerrno>

#include "platform/atomic_file.h"

namespace talvek::settings {

namespace {

constexpr uint32_t kAnyPort = 21;

std::string ReadText(const RegistryStore& store, std::string_view name) {
  return store.getString(kSettingsKey, name).value_or(std::string());
}

uint32_t ReadNumber(const RegistryStore& store, std::string_view name, uint32_t fallback) {
  return store.getDword(kSettingsKey, name).value_or(fallback);
}

template <typename Block>
void ReadBlockInto(const RegistryStore& store, Block& block) {
  if (std::optional<Block> stored = ReadBlock<Block>(store)) block = *stored;
}

}  // namespace

void LoadSettings(const RegistryStore& store, Settings& s) {
  s.ftpRootDir = ReadText(store, "FTPRootDir");
  s.uploadsDir = ReadText(store, "UploadsDir");
  s.logPath = ReadText(store, "LogPath");
  s.msgFilePath = ReadText(store, "MsgFilePath");
  s.logonFile = ReadText(store, "LogonFile");
  s.redirUploads = ReadNumber(store, "RedirUploads", 0);
  s.sendLogonMsg = ReadNumber(store, "SendLogonMsg", 0);
  s.enableLog = ReadNumber(store, "EnableLog", 0);
  s.graphBkColor = ReadNumber(store, "GraphBkColor", 16777215);
  s.graphForeColor = ReadNumber(store, "GraphForeColor", 0);
  s.loginThrottle.failDelaySeconds = ReadNumber(store, "LoginFailDelaySeconds", 0);
  s.loginThrottle.banFailures = ReadNumber(store, "LoginBanFailures", 0);
  s.loginThrottle.banWindowMinutes = ReadNumber(store, "LoginBanWindowMinutes", 10);
  s.loginThrottle.banMinutes = ReadNumber(store, "LoginBanMinutes", 30);
  s.network.listenIpv6 = ReadNumber(store, "ListenIPv6", 1);
  s.network.passivePortMin = ReadNumber(store, "PassivePortMin", 0);
  s.network.passivePortMax = ReadNumber(store, "PassivePortMax", 0);
  s.network.passiveAddress = ReadText(store, "PassiveAddress");
  s.tls.mode = ReadNumber(store, "TlsMode", 1);
  s.tls.certificateFile = ReadText(store, "TlsCertificateFile");
  s.tls.keyFile = ReadText(store, "TlsKeyFile");
  s.tls.requireSessionReuse = ReadNumber(store, "TlsRequireSessionReuse", 0);
  s.cache = ReadBlock<CacheSettings>(store).value_or(CacheSettings::Defaults());
  ReadBlockInto(store, s.anonymous);
  ReadBlockInto(store, s.general);
  ReadBlockInto(store, s.net);
  // The stored port counts only while "Always use this port" is set.
  if (s.net.alwaysUsePort == 0) s.net.port = kAnyPort;
}

void SaveSettings(RegistryStore& store, const Settings& s) {
  store.setString(kSettingsKey, "FTPRootDir", s.ftpRootDir);
  store.setString(kSettingsKey, "UploadsDir", s.uploadsDir);
  store.setString(kSettingsKey, "LogPath", s.logPath);
  store.setString(kSettingsKey, "MsgFilePath", s.msgFilePath);
  store.setString(kSettingsKey, "LogonFile", s.logonFile);
  store.setDword(kSettingsKey, "RedirUploads", s.redirUploads);
  store.setDword(kSettingsKey, "SendLogonMsg", s.sendLogonMsg);
  store.setDword(kSettingsKey, "EnableLog", s.enableLog);
  store.setDword(kSettingsKey, "GraphBkColor", s.graphBkColor);
  store.setDword(kSettingsKey, "GraphForeColor", s.graphForeColor);
  store.setDword(kSettingsKey, "LoginFailDelaySeconds", s.loginThrottle.failDelaySeconds);
  store.setDword(kSettingsKey, "LoginBanFailures", s.loginThrottle.banFailures);
  store.setDword(kSettingsKey, "LoginBanWindowMinutes", s.loginThrottle.banWindowMinutes);
  store.setDword(kSettingsKey, "LoginBanMinutes", s.loginThrottle.banMinutes);
  store.setDword(kSettingsKey, "ListenIPv6", s.network.listenIpv6);
  store.setDword(kSettingsKey, "PassivePortMin", s.network.passivePortMin);
  store.setDword(kSettingsKey, "PassivePortMax", s.network.passivePortMax);
  store.setString(kSettingsKey, "PassiveAddress", s.network.passiveAddress);
  store.setDword(kSettingsKey, "TlsMode", s.tls.mode);
  store.setString(kSettingsKey, "TlsCertificateFile", s.tls.certificateFile);
  store.setString(kSettingsKey, "TlsKeyFile", s.tls.keyFile);
  store.setDword(kSettingsKey, "TlsRequireSessionReuse", s.tls.requireSessionReuse);
  WriteBlock(store, s.cache);
  WriteBlock(store, s.anonymous);
  WriteBlock(store, s.general);
  WriteBlock(store, s.net);
}

RegistryStore NormalisedCopy(const RegistryStore& store) {
  RegistryStore copy = store;
  Settings loaded;
  LoadSettings(store, loaded);
  SaveSettings(copy, loaded);
  return copy;
}

int SaveChangesOverDisk(const RegistryStore& base, const RegistryStore& mine) {
  platform::FileEditLock lock(mine.file());
  if (lock.error()) return lock.error();
  RegistryStore disk(mine.file());
  if (!disk.load()) return EIO;
  disk.mergeChanges(base, mine);
  return disk.save();
}

int SaveChangeOverDisk(RegistryStore& store, const std::function<void(RegistryStore&)>& change) {
  store = NormalisedCopy(store);
  const RegistryStore base = store;
  change(store);
  return SaveChangesOverDisk(base, store);
}

std::string ReadDefaultIp(const RegistryStore& store) { return ReadText(store, "DefaultIP"); }

void WriteDefaultIp(RegistryStore& store, std::string_view address) {
  store.setString(kSettingsKey, "DefaultIP", std::string(address));
}

uint32_t ReadNewInstall(const RegistryStore& store) { return ReadNumber(store, "NewInstall", 1); }

void WriteNewInstall(RegistryStore& store, uint32_t value) { store.setDword(kSettingsKey, "NewInstall", value); }

std::string WithTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

std::string PassiveRangeProblem(const NetworkSettings& n) {
  if (n.passivePortMin != 0 && n.passivePortMax != 0 && n.passivePortMin > n.passivePortMax)
    return "PassivePortMin is above PassivePortMax";
  return "";
}

}  // namespace talvek::settings
