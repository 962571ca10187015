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

void List(const AccountStore& store, std::ostream& out) {
  for (const auto& account : store.records()) {
    out << account.name << "  " << PermissionLetters(account.permissions) << "  home=" << account.homeDir
        << "  uploads=" << account.uploadsDir << (account.redirectUploads ? " (redirected)" : "")
        << "  logon-message=" << (account.customLogonMessage ? account.logonMessageFile : std::string("-"))
        << (account.damaged ? "  DAMAGED" : "") << "\n";
  }
}

}  // namespace

int RunAccountsCommand(const std::vector<std::string>& args, AccountStore& store, const std::string& ftp_root,
                       const std::string& key_text, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsageText;
    return kUsage;
  }
  const std::string& verb = args[0];
  if (verb == "list" && args.size() == 1) {
    List(store, out);
    return 0;
  }
  if ((verb != "add" && verb != "modify" && verb != "remove") || args.size() < 2) {
    err << kUsageText;
    return kUsage;
  }
  const std::string& name = args[1];
  if (verb == "remove") {
    if (args.size() != 2) {
      err << kUsageText;
      return kUsage;
    }
    if (!store.remove(name)) {
      err << "accounts: no account named '" << name << "'\n";
      return kUsage;
    }
  } else {
    auto existing = store.find(name);
    if (verb == "modify" && !existing) {
      err << "accounts: no account named '" << name << "'\n";
      return kUsage;
    }
    AccountRecord account;
    if (verb == "modify") account = *existing;
    else account.homeDir = ftp_root;  // a new account starts at the FTP root
    account.name = name;
    if (auto error = ApplyOptions(args, 2, account); !error.empty()) {
      err << "accounts: " << error << "\n";
      return kUsage;
    }
    if (auto error = ValidateAccount(account, ftp_root); !error.empty()) {
      err << error << "\n";
      return kUsage;
    }
    account.damaged = false;
    if (verb == "add") {
      if (AddAccount(store, account) == AddOutcome::OverwroteExisting)
        out << "User name " << name << " already exists: its password and permissions were overwritten\n";
    } else {
      store.replace(name, account);
    }
  }
  if (int error = store.save(key_text)) {
    err << "accounts: cannot save " << store.filePath() << ": " << std::strerror(error) << "\n";
    return 1;
  }
  return 0;
}

}  // namespace talvek::accounts
