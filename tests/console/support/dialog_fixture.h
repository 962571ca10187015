// Shared pieces of the dialog tests: scripted prompts that record what the
// dialogs show, a real server on 127.0.0.1 with an ephemeral port and its
// settings store in a temporary program directory, and a bounded driver for
// modal dialogs.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "console/dialog_prompts.h"
#include "server/server.h"
#include "settings/registry_store.h"
#include "support/test_support.h"

namespace talvek::test {

// Records every message and question; answers questions from a script
// (OK when the script is empty) and choosers with fixed paths.
class ScriptedPrompts : public console::DialogPrompts {
 public:
  struct Message {
    QString text, caption;
  };
  void inform(QWidget*, const QString& text, const QString& caption, QMessageBox::Icon) override;
  bool confirm(QWidget*, const QString& text, const QString& caption) override;
  QString chooseFolder(QWidget*, const QString& title, const QString& start) override;
  QString chooseOpenFile(QWidget*, const QString& filter, const QString& start) override;
  QString chooseSaveFile(QWidget*, const QString& filter, const QString& suffix, const QString& start) override;

  bool saw(const QString& text) const;
  void clear();

  std::vector<Message> messages;
  std::vector<QString> questions;
  std::deque<bool> answers;
  std::vector<QString> chooser_titles;  // folder titles, or the file filters
  QString folder, file;                 // what the choosers return
};

// What the operator would see, recorded from any thread.
class RecordingConsoleView : public server::OperatorView {
 public:
  void setStatusText(const std::string&) override {}
  void showMessage(const std::string& text, const std::string&, server::MessageIcon) override;
  void setTitle(const std::string&) override {}
  void userListChanged() override {}
  void appendMonitorText(const std::string&) override {}
  std::vector<std::string> messages() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};


class DialogServer {
 public:
  // Starts the server; afterwards the settings' port is the one it listens on.
  explicit DialogServer(settings::Settings settings);
  // With a settings change that needs the temporary directories' paths.
  explicit DialogServer(const std::function<void(settings::Settings&, const DialogServer&)>& adjust = {});
  ~DialogServer();

  server::Server& server() { return *server_; }
  settings::RegistryStore& store() { return *store_; }
  const TempDir& root() const { return root_; }
  const TempDir& programDirectory() const { return program_directory_; }
  RecordingConsoleView& view() { return view_; }
  uint16_t port() const { return port_; }

  // A client that has read the greeting, from `source` when given; nullptr on failure.
  std::unique_ptr<LineClient> connect(const std::string& source = "");
  // A client logged in with USER/PASS; nullptr unless the reply was 230.
  std::unique_ptr<LineClient> login(const std::string& user, const std::string& password);
  bool waitForRegistered(size_t count);

 private:
  void start(settings::Settings settings);

  TempDir program_directory_;
  TempDir root_;
  RecordingConsoleView view_;
  std::unique_ptr<settings::RegistryStore> store_;
  std::unique_ptr<server::Server> server_;
  uint16_t port_ = 0;
};

// Calls `action` with the first modal dialog of type T to appear within
// `limit`; a modal still open after `limit` is rejected so no test hangs.
// Returns a flag that becomes true once `action` ran.
template <typename T>
std::shared_ptr<bool> WhenModal(std::function<void(T*)> action, int limit_ms = 5000);

// A loopback port nothing listens on at the moment of the call.
uint16_t FreeLoopbackPort();

}  // namespace talvek::test

template <typename T>
std::shared_ptr<bool> talvek::test::WhenModal(std::function<void(T*)> action, int limit_ms) {
  auto ran = std::make_shared<bool>(false);
  auto* poll = new QTimer(qApp);  // owned by the application; deletes itself
  auto started = std::make_shared<QElapsedTimer>();
  auto handled = std::make_shared<QPointer<QDialog>>();
  started->start();
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, poll, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    if (T* dialog = qobject_cast<T*>(modal); dialog && !*ran) {
      *ran = true;
      *handled = dialog;
      action(dialog);
      return;
    }
    if (started->elapsed() <= limit_ms) return;
    // Out of time: close what is still waiting, so the test fails instead of hanging.
    QDialog* stuck = *ran ? handled->data() : qobject_cast<QDialog*>(modal);
    if (stuck && stuck->isVisible()) stuck->reject();
    poll->stop();
    poll->deleteLater();
  });
  poll->start();
  return ran;
}
