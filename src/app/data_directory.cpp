#include "app/data_directory.h"

#include <cstdlib>

#include "platform/system_info.h"

namespace talvek::app {

namespace {
bool HoldsData(const std::filesystem::path& directory) {
  std::error_code error;
  return std::filesystem::is_regular_file(directory / "defaults.reg", error);
}
}  // namespace

ProgramDirectories ResolveProgramDirectories(const std::optional<std::filesystem::path>& given,
                                             const std::filesystem::path& settings_file) {
  std::optional<std::filesystem::path> chosen = given;
  if (!chosen) {
    const char* home = std::getenv("TALVEK_FTP_HOME");
    if (home && *home) chosen = home;
  }
  if (chosen) {
    auto directory = std::filesystem::absolute(*chosen);
    return {directory, directory};
  }
  auto executable_directory = platform::ExecutableDirectory();
  if (HoldsData(executable_directory)) return {executable_directory, executable_directory};
  auto relocated = (executable_directory / ".." / "share" / "talvek-ftp").lexically_normal();
  auto data = HoldsData(relocated) ? relocated : std::filesystem::path(TALVEK_DATA_DIR);
  return {data, settings_file.parent_path()};
}

}  // namespace talvek::app
