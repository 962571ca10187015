#include "commands/login_commands.h"

#include <fstream>

#include "session/control_connection.h"
#include "protocol/reply_table.h"
#include "session/session_root.h"
#include "session/connection_record.h"
#include "session/session_host.h"

namespace talvek::ftp {

namespace {

// Logon message files are small texts; a runaway file is cut here.
constexpr size_t kMaxLogonMessage = 64 * 1024;

bool AnonymousAllowed(const settings::Settings& settings) { return settings.anonymous.allow != 0; }

}  // namespace

bool IsAnonymousName(const std::string& name) {
  static const std::string kAnonymous = "ANONYMOUS";
  if (name.size() != kAnonymous.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != kAnonymous[i]) return false;
  }
  return true;
}

std::string BuildLogonMessage(const std::filesystem::path& file) {
  std::string message;
  std::ifstream in(file);
  std::string line;
  while (message.size() < kMaxLogonMessage && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    message += "230- " + line + "\r\n";
  }
  return message;
}

std::string HandleUser(CommandContext& context, std::string& argument) {
  auto settings = context.server.settings();
  context.record.texts.lock()->user_name = argument;
  bool known = (AnonymousAllowed(settings) && IsAnonymousName(argument)) ||
               context.server.accountExists(argument);
  if (!known) return Reply(530);
  context.record.control.user_accepted = true;
  return Reply(331);
}

static std::string TryLogin(CommandContext& context, std::string& argument);

std::string HandlePass(CommandContext& context, std::string& argument) {
  std::string reply = TryLogin(context, argument);
  if (reply == Reply(530)) context.connection.loginFailed();  // the login throttle
  return reply;
}

static std::string TryLogin(CommandContext& context, std::string& argument) {
  auto& record = context.record;
  auto& control = record.control;
  if (!control.user_accepted) return Reply(530);
  auto settings = context.server.settings();
  std::string user;
  {
    auto texts = record.texts.lock();
    texts->password = argument;
    user = texts->user_name;
  }
  // Whatever this attempt gives, the rights and the rename pending of an
  // earlier login end here; only a successful login grants new ones.
  control.logged_in = false;
  control.permissions = 0;
  context.connection.renameSource().clear();
  std::string reply;
  if (AnonymousAllowed(settings) && IsAnonymousName(user)) {
    if (settings.sendLogonMsg) reply = context.server.logonMessage();
    std::string root = settings.anonymous.rootText();
    if (root.empty()) root = settings.ftpRootDir;
    // No root at all would make "/" the root: nobody logs in until one is set.
    if (root.empty()) return Reply(530);
    control.logged_in = true;
    control.permissions = settings.anonymous.rights & 7;
    SetSessionRoot(record, root);
    control.redirect_uploads = true;
  } else {
    auto login = context.server.checkAccount(user, argument);
    if (!login) return Reply(530);
    if (login->custom_logon_message)
      reply = BuildLogonMessage(login->logon_message_file);
    else if (settings.sendLogonMsg)
      reply = context.server.logonMessage();
    std::string home = login->home_directory;
    if (home.empty()) return Reply(530);
    control.logged_in = true;
    control.permissions = login->permissions & 7;
    SetSessionRoot(record, home);
    control.uploads_directory = login->uploads_directory;
    control.redirect_uploads = login->redirect_uploads;
  }
  context.server.refreshTitle();
  return reply + Reply(230);
}

std::string HandleRein(CommandContext& context, std::string&) {
  auto& record = context.record;
  auto& control = record.control;
  auto settings = context.server.settings();
  control.data_port = static_cast<uint16_t>(settings.net.port);
  control.logged_in = false;
  control.user_accepted = false;
  control.permissions = 0;
  // An encrypted control connection stays so; the data protection starts over.
  control.tls_pbsz = false;
  control.data_protection.reset();
  context.connection.renameSource().clear();
  SetSessionRoot(record, settings.ftpRootDir);
  auto texts = record.texts.lock();
  texts->user_name.clear();
  texts->password.clear();
  return Reply(220);
}

}  // namespace talvek::ftp
