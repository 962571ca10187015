// Shared pieces of the console tests: scripted prompts, a real server on
// 127.0.0.1 (ephemeral port, temporary FTP root, program directory and
// settings file, the console's queued operator view), widget helpers and a
// bounded driver for modal dialogs.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDeadlineTimer>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include "console/dialog_prompts.h"
#include "console/qt_operator_view.h"
#include "server/server.h"
#include "settings/registry_store.h"
#include "support/test_support.h"

namespace talvek::test {

// Records every message and question and answers questions from a script
// (OK when the script is empty); the choosers choose nothing.
class ScriptedPrompts : public console::DialogPrompts {
 public:
  void inform(QWidget*, const QString& text, const QString&, QMessageBox::Icon) override { messages << text; }
  bool confirm(QWidget*, const QString& text, const QString&) override {
    questions << text;
    bool answer = answers.empty() || answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
  QString chooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
  QString chooseOpenFile(QWidget*, const QString&, const QString&) override { return {}; }
  QString chooseSaveFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }

  QStringList messages, questions;
  std::deque<bool> answers;
};

class DialogServer {
 public:
  using Adjust = std::function<void(settings::Settings&, const DialogServer&)>;
  // `adjust` changes the settings (and may write files into the program
  // directory) before the server starts; the reverse lookup calls every
  // client `client_name`. The settings' port is then the one in use.
  explicit DialogServer(const Adjust& adjust = {}, std::string client_name = "");
  ~DialogServer() { server_->shutdown(); }

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
  bool waitForRegistered(size_t count) {
    return WaitUntil([&] { return server_->registrySnapshot().size() == count; });
  }
  // RETR or LIST over a passive data connection: the bytes, when 226 ended it.
  std::optional<std::string> passiveTransfer(LineClient& client, const std::string& command);

  ScriptedPrompts prompts;  // for the dialogs a test opens on this server

 private:
  TempDir program_directory_;
  TempDir root_;
  console::QtOperatorView view_;
  std::unique_ptr<settings::RegistryStore> store_;
  std::unique_ptr<server::Server> server_;
  uint16_t port_ = 0;
};

// The child of `parent` called `name`; clicking a push button, or a dialog's
// standard button; setting line edits, spin boxes and check or radio boxes
// by name; the texts of a list widget.
template <typename T = QPushButton>
T* Find(QWidget* parent, const char* name) {
  return parent->findChild<T*>(QLatin1String(name));
}
void Click(QWidget* parent, const char* name);
void Set(QWidget* parent, const std::vector<std::pair<const char*, QVariant>>& values);
void Press(QDialog* dialog, QDialogButtonBox::StandardButton which = QDialogButtonBox::Ok);
QStringList Texts(QWidget* parent, const char* list_name);

// Calls `action` with the first modal dialog of type T to appear within
// `limit`; a modal still open after `limit` is rejected so no test hangs.
// Returns a flag that becomes true once `action` ran.
template <typename T>
std::shared_ptr<bool> WhenModal(std::function<void(T*)> action, int limit_ms = 5000);

}  // namespace talvek::test

template <typename T>
std::shared_ptr<bool> talvek::test::WhenModal(std::function<void(T*)> action, int limit_ms) {
  auto ran = std::make_shared<bool>(false);
  auto* poll = new QTimer(qApp);  // owned by the application; deletes itself
  auto handled = std::make_shared<QPointer<QDialog>>();
  QDeadlineTimer deadline(limit_ms);
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, poll, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    if (T* dialog = qobject_cast<T*>(modal); dialog && !*ran) {
      *ran = true;
      *handled = dialog;
      action(dialog);
      return;
    }
    if (!deadline.hasExpired()) return;
    // Out of time: close what is still waiting, so the test fails instead of hanging.
    QDialog* stuck = *ran ? handled->data() : qobject_cast<QDialog*>(modal);
    if (stuck && stuck->isVisible()) stuck->reject();
    poll->stop();
    poll->deleteLater();
  });
  poll->start();
  return ran;
}
