// Shared pieces of the console tests: scripted prompts that record what the
// dialogs show, a real server listening on 127.0.0.1 (ephemeral port,
// temporary FTP root, program directory and settings file, the console's
// queued operator view), and a bounded driver for modal dialogs.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "console/dialog_prompts.h"
#include "console/qt_operator_view.h"
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
  void inform(QWidget*, const QString& text, const QString& caption, QMessageBox::Icon) override {
    messages.push_back({text, caption});
  }
  bool confirm(QWidget*, const QString& text, const QString& caption) override;
  QString chooseFolder(QWidget*, const QString& title, const QString&) override { return chosen(title, folder); }
  QString chooseOpenFile(QWidget*, const QString& filter, const QString&) override { return chosen(filter, file); }
  QString chooseSaveFile(QWidget*, const QString& filter, const QString&, const QString&) override {
    return chosen(filter, file);
  }
  bool saw(const QString& text) const;
  void clear() {
    messages.clear();
    questions.clear();
    chooser_titles.clear();
  }

  std::vector<Message> messages;
  std::vector<QString> questions;
  std::deque<bool> answers;
  std::vector<QString> chooser_titles;  // folder titles, or the file filters
  QString folder, file;                 // what the choosers return

 private:
  QString chosen(const QString& title, const QString& answer) {
    chooser_titles.push_back(title);
    return answer;
  }
};

class DialogServer {
 public:
  using Adjust = std::function<void(settings::Settings&, const DialogServer&)>;
  // `adjust` changes the settings (and may write files into the program
  // directory) before the server starts; a non-empty `client_name` is what
  // the reverse lookup calls every client. The settings' port is then the
  // one the server listens on.
  explicit DialogServer(const Adjust& adjust = {}, std::string client_name = "");
  ~DialogServer();

  server::Server& server() { return *server_; }
  settings::RegistryStore& store() { return *store_; }
  console::QtOperatorView& view() { return view_; }
  const TempDir& root() const { return root_; }
  const TempDir& programDirectory() const { return program_directory_; }
  uint16_t port() const { return port_; }

  // A client that has read the greeting, from `source` when given; nullptr on failure.
  std::unique_ptr<LineClient> connect(const std::string& source = "");
  // A client logged in with USER/PASS; nullptr unless the reply was 230.
  std::unique_ptr<LineClient> login(const std::string& user, const std::string& password);
  bool waitForRegistered(size_t count);
  // The single registered record (null unless exactly one).
  std::shared_ptr<server::ConnectionRecord> onlyRecord() const;
  // RETR or LIST over a passive data connection: the bytes, when 226 ended it.
  std::optional<std::string> passiveTransfer(LineClient& client, const std::string& command);

 private:
  TempDir program_directory_;
  TempDir root_;
  console::QtOperatorView view_;
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
