#include "app/daemon_view.h"

#include <cstdio>

namespace talvek::app {

namespace {
// Terminals and log collectors want plain line feeds.
std::string WithoutCarriageReturns(const std::string& text) {
  std::string plain;
  plain.reserve(text.size());
  for (char c : text)
    if (c != '\r') plain += c;
  return plain;
}
}  // namespace

void DaemonView::setStatusText(const std::string& text) {
  std::lock_guard lock(mutex_);
  std::fprintf(stdout, "%s\n", text.c_str());
  std::fflush(stdout);
}

void DaemonView::showMessage(const std::string& text, const std::string& caption, server::MessageIcon) {
  std::lock_guard lock(mutex_);
  // Warnings are events for whoever watches the daemon's output.
  std::fprintf(stdout, "%s: %s\n", caption.c_str(), WithoutCarriageReturns(text).c_str());
  std::fflush(stdout);
}

void DaemonView::appendMonitorText(const std::string& text) {
  std::lock_guard lock(mutex_);
  std::string plain = WithoutCarriageReturns(text);
  std::fwrite(plain.data(), 1, plain.size(), stdout);
  std::fflush(stdout);
}

}  // namespace talvek::app
