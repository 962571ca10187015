// The root a session works in: its confined file system and its working
// directory below it. Control thread only; transfers take a copy of the
// shared root when they start.
#pragma once

#include <memory>
#include <string>

#include "platform/confined_fs.h"

namespace talvek::server {
struct ConnectionRecord;
}  // namespace talvek::server

namespace talvek::session {
class SessionHost;
}  // namespace talvek::session

namespace talvek::ftp {

// The session's root, opened on first use from the record's root (the FTP
// root before login); nothing when that directory cannot be opened.
std::shared_ptr<const platform::ConfinedFs> SessionRoot(session::SessionHost& server, server::ConnectionRecord& record);

// Fixes the root at `root` (login, REIN) and makes it the working directory.
void SetSessionRoot(server::ConnectionRecord& record, const std::string& root);

// The working directory relative to the root ("" for the root itself).
std::string WorkingDirectory(const platform::ConfinedFs& root, const server::ConnectionRecord& record);

// Makes `relative` (below the root) the working directory.
void SetWorkingDirectory(server::ConnectionRecord& record, const platform::ConfinedFs& root,
                         const std::string& relative);

}  // namespace talvek::ftp
