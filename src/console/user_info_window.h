// The modeless window of one connected user: a snapshot of the connection
// record taken when it opened, the file lists on request and the route to
// the client. Parented to the user list; deletes itself when closed, and its
// trace stops with it.
#pragma once

#include <QDialog>
#include <QString>

#include <string>

#include "console/trace_runner.h"
#include "console/user_snapshot.h"

class QPlainTextEdit;
class QPushButton;

namespace talvek::console {

class UserInfoWindow : public QDialog {
  Q_OBJECT

 public:
  UserInfoWindow(UserSnapshot user, QWidget* parent);
  ~UserInfoWindow() override;

  // The whole text becomes the user information text.
  void showUserInformation();
  void setMonitorFont(const QFont& font, const QColor& colour);
  // The text as shown (line ends "\n").
  QString text() const;

 public slots:
  // Appends the downloads and uploads lists and scrolls to the end.
  void appendFileLists();
  // Traces the route to the client on a worker thread, appending each hop.
  void traceRoute();

 signals:
  void traceFinished();

 private:
  void appendText(const std::string& text);
  void endTrace();

  UserSnapshot user_;
  QPlainTextEdit* text_area_;
  QPushButton* file_list_button_;
  QPushButton* trace_button_;
  TraceRunner trace_;
};

}  // namespace talvek::console
