#include "app/program_options.h"

#include <iostream>

#include "app/daemon_cli.h"

namespace talvek::app {

std::optional<LogFormat> ParseLogFormat(const std::string& text) {
  if (text == "auto") return LogFormat::kAutomatic;
  if (text == "plain") return LogFormat::kPlain;
  if (text == "journal") return LogFormat::kJournal;
  return std::nullopt;
}

namespace {
std::string ProgramName(Program program) { return program == Program::kDaemon ? "talvek-ftpd" : "talvek-ftp"; }
}  // namespace

std::string UsageText(Program program) {
  const std::string name = ProgramName(program);
  const std::string indent(name.size() + 8, ' ');
  std::string usage = "usage: " + name + " [--settings FILE] [--program-dir DIR] [--root DIR] [--port N]\n" + indent +
                      "[-s|--auto-start] [-b|--background]";
  if (program == Program::kDaemon)
    usage += " [--log-format auto|plain|journal]\n"
             "       talvek-ftpd [--settings FILE] config list | get NAME | set NAME VALUE\n"
             "       talvek-ftpd [--settings FILE] accounts list | add NAME [options] | modify NAME [options] |\n"
             "                   remove NAME   (options: --password P --home DIR --uploads DIR\n"
             "                   --redirect-uploads --logon-message FILE --perms rwd)\n"
             "       talvek-ftpd [--settings FILE] [--program-dir DIR] filter list | add PATTERN |\n"
             "                   remove PATTERN | enable | disable | mode block|allow\n"
             "       talvek-ftpd [--settings FILE] reload   (the running daemon re-reads its files)";
  return usage + "\n       " + name + " --help | --version\n";
}

std::optional<int> AnswerBeforeStart(Program program, const std::vector<std::string>& args) {
  auto parsed = ParseDaemonArguments(args);
  if (!parsed.options) {
    // Toolkit options are one dash and a word; ours are one letter or two dashes.
    for (const auto& arg : args)
      if (program == Program::kConsole && arg.size() > 2 && arg[0] == '-' && arg[1] != '-') return std::nullopt;
    std::cerr << ProgramName(program) << ": " << parsed.error << "\n" << UsageText(program);
    return 2;
  }
  if (parsed.options->help) {
    std::cout << UsageText(program);
    return 0;
  }
  if (parsed.options->version) {
    std::cout << ProgramName(program) << " " TALVEK_VERSION "\n";
    return 0;
  }
  return std::nullopt;
}

}  // namespace talvek::app
