// The daemon's "accounts" subcommand: list, add, modify and remove named
// accounts in the accounts file; each change is one locked edit of the file.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "accounts/account_store.h"

namespace talvek::accounts {

// `args` follow "accounts". Returns 0 on success (the file is saved); 2 for
// a usage error, a refused account or a file this machine's key cannot read
// (nothing changed); 1 when the file cannot be read or written.
int RunAccountsCommand(const std::vector<std::string>& args, const std::filesystem::path& file,
                       const std::string& ftp_root, const std::string& key_text, std::ostream& out,
                       std::ostream& err);

}  // namespace talvek::accounts
