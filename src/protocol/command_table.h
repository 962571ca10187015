// The command vocabulary: keyword to handler, an open-addressed table of 211
// slots built once at start-up and then only read by the control thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace talvek::ftp {

// The handlers; several keywords share one (XPWD runs Pwd, and so on).
enum class Command : uint8_t {
  Retr, Port, Type, Pwd, Cwd, User, Pass, Acct, Cdup, Quit, Rein, Pasv, Stru, Mode,
  Stor, Stou, Appe, Allo, Rest, Rnfr, Rnto, Abor, Dele, Rmd, Mkd, List, Nlst, Site,
  Syst, Stat, Help, Noop, Macb, Xsts,
  Feat, Opts, Size, Mdtm, Mfmt, Mlst, Mlsd, Epsv, Eprt, Auth, Pbsz, Prot,
};

class CommandTable {
 public:
  static constexpr int kSlots = 211;

  CommandTable();  // inserts the 52 keywords in their fixed order

  // The handler for an upper-case keyword; nothing for unknown keywords.
  std::optional<Command> find(std::string_view keyword) const;
  // Slot holding `keyword`, or -1 (exposed for tests of the probe rule).
  int slotOf(std::string_view keyword) const;
  // The hash key: the first four bytes, little-endian, missing bytes zero.
  static uint32_t keyOf(std::string_view keyword);

  static const CommandTable& instance();

 private:
  struct Entry {
    std::string_view keyword;  // empty: free slot
    Command command{};
  };
  std::array<Entry, kSlots> slots_{};
};

}  // namespace talvek::ftp
