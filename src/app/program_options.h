// What both executables answer before they start anything: --help and
// --version, and how their event lines are formatted.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace talvek::app {

enum class Program { kDaemon, kConsole };

// How event lines reach standard output: with their own time stamps, or
// without them for a collector that stamps every line itself.
enum class LogFormat { kAutomatic, kPlain, kJournal };

std::optional<LogFormat> ParseLogFormat(const std::string& text);

std::string UsageText(Program program);

// Answers what needs no settings and no display: --help and --version
// (stdout, status 0) and malformed arguments (the error and the usage on
// stderr, status 2). Nothing when the program should go on. The console's
// arguments may still hold the toolkit's own options ("-platform NAME"), so
// for it a malformed line is left to the parse after the toolkit took them.
std::optional<int> AnswerBeforeStart(Program program, const std::vector<std::string>& args);

}  // namespace talvek::app
