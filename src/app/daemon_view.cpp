#include "app/daemon_view.h"

#include <cctype>
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

// Length of a "YYYY-MM-DD HH:MM:SS : " stamp at `at`, or 0.
size_t StampLength(const std::string& text, size_t at) {
  static constexpr char kShape[] = "0000-00-00 00:00:00 : ";
  constexpr size_t length = sizeof kShape - 1;
  if (text.size() - at < length) return 0;
  for (size_t i = 0; i < length; ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(text[at + i])) != 0;
    if (kShape[i] == '0' ? !digit : text[at + i] != kShape[i]) return 0;
  }
  return length;
}
}  // namespace

void DaemonView::write(const std::string& text) {
  std::string plain = WithoutCarriageReturns(text);
  if (for_journal_) {
    std::string lines;
    for (size_t i = 0; i < plain.size(); ++i) {
      if (at_line_start_) {
        i += StampLength(plain, i);
        if (i >= plain.size()) break;
        if (plain[i] == '\n') continue;  // a blank separator line
      }
      lines += plain[i];
      at_line_start_ = plain[i] == '\n';
    }
    plain.swap(lines);
  }
  std::fwrite(plain.data(), 1, plain.size(), stdout);
  std::fflush(stdout);
}

void DaemonView::setStatusText(const std::string& text) {
  std::lock_guard lock(mutex_);
  write(text + "\n");
}

void DaemonView::showMessage(const std::string& text, const std::string& caption, server::MessageIcon) {
  std::lock_guard lock(mutex_);
  // Warnings are events for whoever watches the daemon's output.
  write(caption + ": " + text + "\n");
}

void DaemonView::appendMonitorText(const std::string& text) {
  std::lock_guard lock(mutex_);
  write(text);
}

}  // namespace talvek::app
