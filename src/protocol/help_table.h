// The HELP texts: 28 slots of at most 255 characters, loaded once at
// start-up from "<program>.ini" (section HELP_REPLY) or the built-in texts.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace talvek::ftp {

class HelpTable {
 public:
  static constexpr int kSlots = 28;
  static constexpr size_t kMaxText = 255;

  // Fills the slots from `ini_file` when it exists and can be read, else
  // from the built-in texts.
  void load(const std::filesystem::path& ini_file);

  // The help body for HELP's argument: the slot whose first word equals it
  // ignoring case, else the built-in text of such an extension command,
  // else the general help text.
  std::string helpText(std::string_view argument) const;

  static std::string_view generalHelp();

 private:
  std::array<std::string, kSlots> slots_;
};

}  // namespace talvek::ftp
