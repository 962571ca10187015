#include "protocol/help_table.h"

#include <fstream>
#include <optional>
#include <vector>

namespace talvek::ftp {

namespace {

// The built-in texts for slots 0..26; slot 15 has no text of its own.
constexpr std::string_view kBuiltIn[27] = {
    "RETR Download a file from the server. Syntax: RETR <filename>",
    "STOR Upload a file from the server. Syntax: STOR <filename>",
    "USER Send user's name to server for logon. Syntax USER <user logon name>",
    "PASS Send user's password to server. Syntax PASS <password>",
    "ACCT Send user's account name to server. Syntax ACCT <account name>",
    "CWD Change working directory. Syntax CWD <directory name>",
    "CDUP Change to root director. Syntax CDUP",
    "PORT Specify port for data transfers. Syntax PORT <client IP address, client port>",
    "PASV Signal server to enter passive mode. Syntax PASV",
    "TYPE Signal representation type. ASCII and Image types supported. Syntax TYPE <[A][I]>",
    "MODE Signal file transmission mode. Stream mode is supported. Syntax MODE <[S]>",
    "STOU Upload a file to the server and save under a unique name. Syntax STOU",
    "APPE Upload a file to the server and append to existing file, or create if none exists.",
    "REST Restart a file trasfer at the specified file pointer position. Syntax REST <file position>",
    "RNFR Rename a file. Must be immediately followed by RNTO command. Syntax RNFR <current file name>",
    "",
    "RNTO Rename a file. Must be immediately preceeded by RNFR command. Syntax RNTO <new file name>",
    "ABOR Abort a file transfer. Syntax ABOR",
    "DELE Delete a file on the server. Syntax DELE <filename>",
    "RMD Remove a directory on the server. Syntax RMD <directory name>",
    "MKD Create a directory on the server. Syntax MKD <directory name>",
    "PWD Transmit the name of the current working directory. Syntax PWD",
    "LIST Transmit a list of the contents of a directory. Syntax LIST <[directory name]>",
    "NLST Transmit a list of the contents of a directory. Syntax NLST <[directory name]>",
    "SITE Transmit site specific information. Unimplemented.",
    "SYST Transmit server system information.",
    "STAT Transmit current server status information",
};

// The extensions' texts, found after the slots whatever the ini file holds.
constexpr std::string_view kExtensions[] = {
    "FEAT List the extensions this server supports. Syntax FEAT",
    "OPTS Set an option of a command. Syntax OPTS UTF8 ON or OPTS MLST <fact;fact;...>",
    "SIZE Transmit the size of a file in bytes. Syntax SIZE <filename>",
    "MDTM Transmit the modification time of a file, UTC. Syntax MDTM <filename>",
    "MFMT Set the modification time of a file, UTC. Syntax MFMT <YYYYMMDDHHMMSS> <filename>",
    "MLST Transmit the facts of a file or directory. Syntax MLST <[name]>",
    "MLSD Transmit the facts of the contents of a directory. Syntax MLSD <[directory name]>",
    "EPSV Signal server to enter extended passive mode. Syntax EPSV <[1][2][ALL]>",
    "EPRT Specify address and port for data transfers. Syntax EPRT |<1 or 2>|<address>|<port>|",
    "AUTH Start TLS on the control connection. Syntax AUTH TLS",
    "PBSZ Set the protection buffer size; 0 under TLS. Syntax PBSZ 0",
    "PROT Set the data connections' protection: P private (TLS) or C clear. Syntax PROT <[P][C]>",
};

constexpr std::string_view kGeneralHelp =
    "Type \"Help <command>\"  to get help about specific commands. Supported commands:  RETR, "
    "STOR, USER, PASS, ACCT, CWD, CDUP, PORT, PASV, TYPE, MODE, STOU, APPE, REST, RNFR, RNTO,  "
    "ABOR, DELE, RMD, MKD, LIST, NLST, SITE, SYST, STAT, HELP, NOOP, FEAT, OPTS, SIZE, MDTM, MFMT, MLST, MLSD, EPSV, EPRT, AUTH, PBSZ, PROT";

std::string Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(begin, end - begin + 1));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Reads the HELP_REPLY section of an ini file into name -> value pairs and
// returns the value of `key`, or nothing when absent.
class IniSection {
 public:
  IniSection(std::ifstream& in, std::string_view section) {
    std::string line;
    bool inside = false;
    // Bounded: an ini file of help texts is small; stop after many lines.
    for (int count = 0; count < 100000 && std::getline(in, line); ++count) {
      std::string trimmed = Trim(line);
      if (trimmed.empty() || trimmed[0] == ';') continue;
      if (trimmed.front() == '[') {
        inside = trimmed.size() >= 2 && trimmed.back() == ']' &&
                 EqualsIgnoringCase(trimmed.substr(1, trimmed.size() - 2), section);
        continue;
      }
      if (!inside) continue;
      size_t equals = trimmed.find('=');
      if (equals == std::string::npos) continue;
      entries_.emplace_back(Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1)));
    }
  }
  std::string value(std::string_view key) const {
    for (const auto& [name, value] : entries_)
      if (EqualsIgnoringCase(name, key)) return value;
    return {};
  }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

}  // namespace

void HelpTable::load(const std::filesystem::path& ini_file) {
  for (auto& slot : slots_) slot.clear();
  std::ifstream in(ini_file);
  if (in) {
    IniSection section(in, "HELP_REPLY");
    for (int n = 1; n <= 27; ++n) {
      std::string value = section.value("HelpKey" + std::to_string(n));
      if (value.empty()) break;
      if (value.size() > kMaxText) value.resize(kMaxText);
      slots_[static_cast<size_t>(n - 1)] = value;
    }
    return;
  }
  for (int n = 0; n < 27; ++n) slots_[static_cast<size_t>(n)] = std::string(kBuiltIn[n]);
}

std::string HelpTable::helpText(std::string_view argument) const {
  auto describes = [&](std::string_view text) {
    size_t space = text.find(' ');
    return space != std::string_view::npos && EqualsIgnoringCase(text.substr(0, space), argument);
  };
  for (const auto& slot : slots_)
    if (describes(slot)) return slot;
  for (std::string_view text : kExtensions)
    if (describes(text)) return std::string(text);
  return std::string(kGeneralHelp);
}

std::string_view HelpTable::generalHelp() { return kGeneralHelp; }

}  // namespace talvek::ftp
