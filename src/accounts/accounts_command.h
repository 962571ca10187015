// The daemon's "accounts" subcommand: list, add, modify and remove named
// accounts in the accounts file, which the caller has loaded into `store`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "accounts/account_store.h"

namespace talvek::accounts {

// `args` follow "accounts". Returns 0 on success (the file is saved), 2 for
// a usage error or a refused account (nothing changed), 1 when saving fails.
int RunAccountsCommand(const std::vector<std::string>& args, AccountStore& store, const std::string& ftp_root,
                       const std::string& key_text, std::ostream& out, std::ostream& err);

}  // namespace talvek::accounts
