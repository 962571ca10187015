#include "console/process_guards.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <exception>

#include <QDialog>
#include <QMessageBox>
#include <QSocketNotifier>

namespace talvek::console {

namespace {

int g_stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(g_stop_pipe[1], &byte, 1);
}

void SetHandler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
  if (::pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(g_stop_pipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &StopSignals::onSignal);
  SetHandler(OnStopSignal);
}

StopSignals::~StopSignals() {
  if (!notifier_) return;
  SetHandler(SIG_DFL);
  notifier_.reset();
  for (int& fd : g_stop_pipe) {
    ::close(fd);
    fd = -1;
  }
}

void StopSignals::onSignal() {
  char bytes[16];
  while (::read(g_stop_pipe[0], bytes, sizeof bytes) > 0) {
  }
  requested_ = true;
  RejectModalDialogs();
  emit stopRequested();
}

void RejectModalDialogs() {
  // Bounded: a widget that refuses to close must not hold the loop.
  for (int i = 0; i < 32; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->done(QDialog::Rejected);
    else
      modal->close();
  }
}

bool ConsoleApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    QMessageBox::critical(activeWindow(), QStringLiteral("Talvek FTP"),
                          QStringLiteral("The command failed: %1").arg(QString::fromLocal8Bit(error.what())));
  } catch (...) {
    QMessageBox::critical(activeWindow(), QStringLiteral("Talvek FTP"), QStringLiteral("The command failed."));
  }
  return false;
}

}  // namespace talvek::console
