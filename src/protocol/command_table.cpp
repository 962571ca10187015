#include "protocol/command_table.h"

namespace talvek::ftp {

namespace {

struct Keyword {
  std::string_view text;
  Command command;
};

// Insertion order matters: it decides which keywords probe past their home slot.
constexpr Keyword kKeywords[] = {
    {"RETR", Command::Retr}, {"PORT", Command::Port}, {"TYPE", Command::Type},
    {"PWD", Command::Pwd},   {"CWD", Command::Cwd},   {"USER", Command::User},
    {"PASS", Command::Pass}, {"ACCT", Command::Acct}, {"CDUP", Command::Cdup},
    {"SMNT", Command::Cwd},  {"QUIT", Command::Quit}, {"REIN", Command::Rein},
    {"PASV", Command::Pasv}, {"STRU", Command::Stru}, {"MODE", Command::Mode},
    {"STOR", Command::Stor}, {"STOU", Command::Stou}, {"APPE", Command::Appe},
    {"ALLO", Command::Allo}, {"REST", Command::Rest}, {"RNFR", Command::Rnfr},
    {"RNTO", Command::Rnto}, {"ABOR", Command::Abor}, {"DELE", Command::Dele},
    {"RMD", Command::Rmd},   {"MKD", Command::Mkd},   {"LIST", Command::List},
    {"NLST", Command::Nlst}, {"SITE", Command::Site}, {"SYST", Command::Syst},
    {"STAT", Command::Stat}, {"HELP", Command::Help}, {"NOOP", Command::Noop},
    {"XPWD", Command::Pwd},  {"MACB", Command::Macb}, {"XMKD", Command::Mkd},
    {"XRMD", Command::Rmd},  {"XCUP", Command::Cdup}, {"XCWD", Command::Cwd},
    {"XSTS", Command::Xsts},
    // The extensions come after the original 40 and so move none of them.
    {"FEAT", Command::Feat}, {"OPTS", Command::Opts}, {"SIZE", Command::Size},
    {"MDTM", Command::Mdtm}, {"MFMT", Command::Mfmt}, {"MLST", Command::Mlst},
    {"MLSD", Command::Mlsd}, {"EPSV", Command::Epsv}, {"EPRT", Command::Eprt},
    {"AUTH", Command::Auth}, {"PBSZ", Command::Pbsz}, {"PROT", Command::Prot},
};

}  // namespace

uint32_t CommandTable::keyOf(std::string_view keyword) {
  uint32_t key = 0;
  for (size_t i = 0; i < 4 && i < keyword.size(); ++i)
    key |= static_cast<uint32_t>(static_cast<unsigned char>(keyword[i])) << (8 * i);
  return key;
}

CommandTable::CommandTable() {
  for (const auto& keyword : kKeywords) {
    uint32_t key = keyOf(keyword.text);
    for (uint32_t distance = 0; distance < kSlots; ++distance) {
      auto& slot = slots_[(key % kSlots + distance) % kSlots];
      if (slot.keyword.empty()) {
        slot = {keyword.text, keyword.command};
        break;
      }
    }
  }
}

int CommandTable::slotOf(std::string_view keyword) const {
  uint32_t key = keyOf(keyword);
  for (uint32_t distance = 0; distance < kSlots; ++distance) {
    uint32_t index = (key % kSlots + distance) % kSlots;
    const auto& slot = slots_[index];
    if (slot.keyword.empty()) return -1;
    if (slot.keyword == keyword) return static_cast<int>(index);
  }
  return -1;
}

std::optional<Command> CommandTable::find(std::string_view keyword) const {
  int slot = slotOf(keyword);
  if (slot < 0) return std::nullopt;
  return slots_[static_cast<size_t>(slot)].command;
}

const CommandTable& CommandTable::instance() {
  static const CommandTable table;
  return table;
}

}  // namespace talvek::ftp
