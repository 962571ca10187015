#include "accounts/accounts_command.h"

#include <cstring>

#include "accounts/account_editing.h"

namespace talvek::accounts {

namespace {

constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: accounts list\n"
    "       accounts add NAME [--password P] [--home DIR] [--uploads DIR] [--redirect-uploads]\n"
    "                         [--logon-message FILE] [--perms rwd]\n"
    "       accounts modify NAME [same options] [--no-redirect-uploads] [--no-logon-message]\n"
    "       accounts remove NAME\n";

// Applies the options after NAME to `account`; "" or the error.
std::string ApplyOptions(const std::vector<std::string>& args, size_t from, AccountRecord& account) {
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (option == "--redirect-uploads") {
      account.redirectUploads = true;
    } else if (option == "--no-redirect-uploads") {
      account.redirectUploads = false;
    } else if (option == "--no-logon-message") {
      account.customLogonMessage = false;
      account.logonMessageFile.clear();
    } else if (option == "--password" || option == "--home" || option == "--uploads" ||
               option == "--logon-message" || option == "--perms") {
      const std::string* given = value();
      if (!given) return option + " needs a value";
      if (option == "--password") account.password = *given;
      if (option == "--home") account.homeDir = *given;
      if (option == "--uploads") account.uploadsDir = *given;
      if (option == "--logon-message") {
        account.logonMessageFile = *given;
        account.customLogonMessage = !given->empty();
      }
      if (option == "--perms") {
        auto permissions = ParsePermissions(*given);
        if (!permissions) return "--perms takes the letters r, w and d, not '" + *given + "'";
        account.permissions = *permissions;
      }
    } else {
      return "unknown option '" + option + "'";
    }
  }
  return {};
}

void List(const std::vector<AccountRecord>& records, std::ostream& out) {
  for (const auto& account : records) {
    // A damaged record's name is whatever the decryption gave.
    std::string name = account.name;
    for (char& c : name)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    out << name << "  " << PermissionLetters(account.permissions) << "  home=" << account.homeDir
        << "  uploads=" << account.uploadsDir << (account.redirectUploads ? " (redirected)" : "")
        << "  logon-message=" << (account.customLogonMessage ? account.logonMessageFile : std::string("-"))
        << (account.damaged() ? "  DAMAGED" : "") << "\n";
  }
}

void WarnIfCorrupt(bool corrupt, std::ostream& out) {
  if (corrupt) out << kCorruptAccountsCaption << ": " << kCorruptAccountsText << "\n";
}

// Applies one add, modify or remove to `records`; "" or why it is refused.
std::string Apply(const std::vector<std::string>& args, const std::string& ftp_root,
                  std::vector<AccountRecord>& records, std::ostream& out) {
  const std::string& verb = args[0];
  const std::string& name = args[1];
  AccountStore store;
  store.replaceAll(std::move(records));
  auto finish = [&](std::string refusal) {
    records = store.records();
    return refusal;
  };
  if (verb == "remove") return finish(store.remove(name) ? "" : "accounts: no account named '" + name + "'");
  auto existing = store.find(name);
  if (verb == "modify" && !existing) return finish("accounts: no account named '" + name + "'");
  AccountRecord account;
  if (verb == "modify") account = *existing;
  else account.homeDir = ftp_root;  // a new account starts at the FTP root
  account.name = name;
  if (auto error = ApplyOptions(args, 2, account); !error.empty()) return finish("accounts: " + error);
  if (auto error = ValidateAccount(account, ftp_root); !error.empty()) return finish(error);
  if (verb == "modify") store.replace(name, account);
  else if (AddAccount(store, account) == AddOutcome::OverwroteExisting)
    out << "User name " << name << " already exists: its password and permissions were overwritten\n";
  return finish("");
}

}  // namespace

int RunAccountsCommand(const std::vector<std::string>& args, const std::filesystem::path& file,
                       const std::string& ftp_root, const std::string& key_text, std::ostream& out,
                       std::ostream& err) {
  if (args.size() == 1 && args[0] == "list") {
    AccountsFileContent content = ReadAccountsFile(file, key_text);
    if (content.result.error) {
      err << "accounts: cannot read " << file.string() << ": " << std::strerror(content.result.error) << "\n";
      return 1;
    }
    WarnIfCorrupt(content.result.corrupt, out);
    List(content.records, out);
    return 0;
  }
  const std::string verb = args.empty() ? "" : args[0];
  bool known = (verb == "add" || verb == "modify") ? args.size() >= 2 : verb == "remove" && args.size() == 2;
  if (!known) {
    err << kUsageText;
    return kUsage;
  }
  FileEdit edit = EditAccountsFile(file, key_text, [&](std::vector<AccountRecord>& records) {
    return Apply(args, ftp_root, records, out);
  });
  WarnIfCorrupt(edit.corrupt, out);
  if (edit.status == FileEdit::Saved) return 0;
  err << FileEditProblem(edit, file) << "\n";
  bool nothing_written = edit.status == FileEdit::Refused || edit.status == FileEdit::WrongKey;
  return nothing_written ? kUsage : 1;
}

}  // namespace talvek::accounts
