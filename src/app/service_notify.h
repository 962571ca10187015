// Talking to a service manager that started the daemon: readiness and
// stopping over $NOTIFY_SOCKET, and whether standard output is its journal.
// Both are no-ops outside a service manager. Safe from any thread.
#pragma once

#include <string>

#include "app/program_options.h"

namespace talvek::app {

// Sends `state` ("READY=1", "STOPPING=1", ...) as one datagram to the
// socket in $NOTIFY_SOCKET. False when there is none or sending failed.
bool NotifyServiceManager(const std::string& state);

// kAutomatic resolves to kJournal when $JOURNAL_STREAM names the file that
// standard output is (so the journal stamps every line itself).
LogFormat ResolveLogFormat(LogFormat requested);

}  // namespace talvek::app
