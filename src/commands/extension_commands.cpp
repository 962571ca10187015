#include "commands/extension_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "protocol/path_rules.h"
#include "protocol/reply_table.h"
#include "commands/security_commands.h"
#include "session/session_root.h"
#include "session/connection_record.h"
#include "settings/reg_text.h"
#include "protocol/listing_format.h"

namespace talvek::ftp {

namespace {

using settings::regtext::EqualsIgnoringCase;

constexpr uint8_t kRead = 1, kWrite = 2;

// FEAT's lines, one per extension. Facts: the line lists the session's
// MLST facts after the name.
struct Feature {
  std::string_view name;
  bool facts = false;
};
constexpr Feature kFeatures[] = {
    {"UTF8"}, {"SIZE"}, {"MDTM"}, {"MFMT"}, {"MLST", true}, {"REST STREAM"}, {"EPSV"}, {"EPRT"},
};

uint8_t SelectedFacts(const server::ConnectionRecord& record) {
  return transfer::kAllFacts & ~record.control.hidden_facts;
}

// What a fact command found: the entry a client's path names and where it
// lies below the root, or the reply that refuses the command.
struct Found {
  std::string refusal;
  std::shared_ptr<const platform::ConfinedFs> root;
  std::string path;
  struct stat info {};
};

Found Refused(std::string reply) {
  Found found;
  found.refusal = std::move(reply);
  return found;
}

// Logged in, holding `right`, a path that stays below the root and names
// something that exists.
Found Find(CommandContext& context, const std::string& argument, uint8_t right) {
  Found found;
  auto& record = context.record;
  if (!record.control.logged_in) return Refused(Reply(530));
  if ((record.control.permissions & right) == 0) return Refused(FileErrorReply(kAccessDenied));
  found.root = SessionRoot(context.server, record);
  if (!found.root) return Refused(FileErrorReply(kAccessDenied));
  auto path = ClientPathBelowRoot(WorkingDirectory(*found.root, record), argument);
  if (!path) return Refused(FileErrorReply(kFileNotFound));
  found.path = *path;
  auto info = found.root->stat(found.path);
  if (!info.ok()) return Refused(FileErrorReply(FileErrorCauseFromErrno(info.error)));
  found.info = info.value;
  return found;
}

// Find, for a regular file only (SIZE, MDTM).
Found FindFile(CommandContext& context, const std::string& argument) {
  Found found = Find(context, argument, kRead);
  if (found.refusal.empty() && !S_ISREG(found.info.st_mode)) found.refusal = FileErrorReply(kInvalidFile);
  return found;
}

}  // namespace

std::string HandleFeat(CommandContext& context, std::string&) {
  std::string reply = "211-Extensions supported:\r\n";
  for (const auto& feature : kFeatures) {
    reply += " " + std::string(feature.name);
    if (feature.facts) reply += " " + transfer::FactNames(SelectedFacts(context.record), true);
    reply += "\r\n";
  }
  return reply + TlsFeatures(context) + "211 End";
}

std::string HandleOpts(CommandContext& context, std::string& argument) {
  size_t space = argument.find(' ');
  std::string_view command = std::string_view(argument).substr(0, space);
  std::string_view value =
      space == std::string::npos ? std::string_view() : std::string_view(argument).substr(space + 1);
  // Names are bytes both ways, UTF-8 as Linux keeps them: there is nothing to switch.
  if (EqualsIgnoringCase(command, "UTF8")) return Reply(EqualsIgnoringCase(value, "ON") ? 200 : 504);
  if (EqualsIgnoringCase(command, "MLST")) {
    uint8_t selected = transfer::ParseFactNames(value);
    context.record.control.hidden_facts = static_cast<uint8_t>(transfer::kAllFacts & ~selected);
    std::string names = transfer::FactNames(selected);
    return "200 MLST OPTS" + (names.empty() ? "" : " " + names);
  }
  return Reply(501);
}

std::string HandleSize(CommandContext& context, std::string& argument) {
  Found found = FindFile(context, argument);
  if (!found.refusal.empty()) return found.refusal;
  return "213 " + std::to_string(static_cast<uint64_t>(found.info.st_size));
}

std::string HandleMdtm(CommandContext& context, std::string& argument) {
  Found found = FindFile(context, argument);
  if (!found.refusal.empty()) return found.refusal;
  return "213 " + transfer::FactTime(found.info.st_mtime);
}

std::string HandleMfmt(CommandContext& context, std::string& argument) {
  if (!context.record.control.logged_in) return Reply(530);
  size_t space = argument.find(' ');
  auto when = transfer::ParseFactTime(std::string_view(argument).substr(0, space));
  if (!when || space == std::string::npos) return Reply(501);
  std::string name = argument.substr(space + 1);
  Found found = Find(context, name, kWrite);
  if (!found.refusal.empty()) return found.refusal;
  if (int error = found.root->setModified(found.path, *when); error != 0)
    return FileErrorReply(FileErrorCauseFromErrno(error));
  return "213 Modify=" + transfer::FactTime(*when) + "; " + name;
}

std::string HandleMlst(CommandContext& context, std::string& argument) {
  Found found = Find(context, argument, kRead);
  if (!found.refusal.empty()) return found.refusal;
  std::string shown = argument.empty() ? "/" + found.path : argument;
  std::string facts = transfer::EntryFacts(transfer::EntryOf(shown, found.info), SelectedFacts(context.record),
                                           context.record.control.permissions);
  return "250-Listing " + shown + "\r\n " + facts + " " + shown + "\r\n250 End";
}

}  // namespace talvek::ftp
