// "Help Topics": opens the operator's help, a page beside the program or
// its README, in the desktop's viewer; says so plainly when there is none.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

class QWidget;

namespace talvek::console {

// Where help may live, in the order they are tried.
std::vector<std::filesystem::path> HelpCandidates(const std::filesystem::path& program_directory);
std::optional<std::filesystem::path> FindHelpFile(const std::filesystem::path& program_directory);

// Opens the first help file found; otherwise (or when the desktop cannot
// open it) shows a message naming the places looked at.
void OpenHelpTopics(const std::filesystem::path& program_directory, QWidget* parent);

}  // namespace talvek::console
