// What keeps the console process (and the server in it) alive and orderly:
// stop signals that end it like "Exit", and the application object that
// turns stray exceptions into message boxes. User-interface thread.
#pragma once

#include <memory>

#include <QApplication>
#include <QObject>

class QSocketNotifier;

namespace talvek::console {

// SIGTERM and SIGINT end the console like "Exit" at any point from start-up
// on, so the settings are still saved: the handler only writes a byte that
// the event loop reads; then every modal dialog is rejected (its flow goes
// on as if cancelled) and stopRequested() is emitted. One per process, made
// before start-up work begins.
class StopSignals : public QObject {
  Q_OBJECT

 public:
  explicit StopSignals(QObject* parent = nullptr);  // installs the handlers
  ~StopSignals() override;                          // restores the default actions
  bool requested() const { return requested_; }

 signals:
  void stopRequested();

 private:
  void onSignal();

  std::unique_ptr<QSocketNotifier> notifier_;
  bool requested_ = false;
};

// Rejects every open modal dialog, innermost first.
void RejectModalDialogs();

// The console's application object: an exception that reaches the event
// loop from a slot or an event handler becomes a message box, not the end
// of the process (and of the server in it).
class ConsoleApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace talvek::console
