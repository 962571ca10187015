// The console's side of the operator interface. The server calls it from
// its own threads; every call becomes a queued signal, so the widgets that
// listen only ever run on the user-interface thread. Hand operatorView() to
// the server; this object must outlive the server.
#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "server/operator_view.h"

namespace talvek::console {

class QtOperatorView : public QObject {
  Q_OBJECT

 public:
  explicit QtOperatorView(QObject* parent = nullptr);
  ~QtOperatorView() override;

  // What the server is given. (A separate object because the interface's
  // userListChanged() and the signal of the same name cannot share a class.)
  server::OperatorView& operatorView();

 signals:
  void statusTextChanged(const QString& text);
  // `icon` is a server::MessageIcon value.
  void messageRequested(const QString& text, const QString& caption, int icon);
  void titleChanged(const QString& title);
  void userListChanged();
  void monitorTextAppended(const QString& text);

 private:
  class Bridge;
  std::unique_ptr<Bridge> bridge_;
};

// Server texts are byte strings in the local 8-bit encoding.
QString FromServerText(const std::string& text);

}  // namespace talvek::console
