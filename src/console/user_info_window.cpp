#include "console/user_info_window.h"

#include <QHBoxLayout>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace talvek::console {

namespace {

constexpr int kTextMargin = 5;  // left and right, inside the text area

// The read-only text area, with room between the text and its sides.
class InfoTextArea : public QPlainTextEdit {
 public:
  explicit InfoTextArea(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setViewportMargins(kTextMargin, 0, kTextMargin, 0);
  }
};

QString Shown(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())).remove(QLatin1Char('\r'));
}

}  // namespace

UserInfoWindow::UserInfoWindow(UserSnapshot user, QWidget* parent)
    : QDialog(parent),
      user_(std::move(user)),
      text_area_(new InfoTextArea(this)),
      file_list_button_(new QPushButton(QStringLiteral("File List"), this)),
      trace_button_(new QPushButton(QStringLiteral("Trace Route"), this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setWindowTitle(QStringLiteral("User info: ") + QString::fromLocal8Bit(user_.display_name.c_str()));
  auto* done_button = new QPushButton(QStringLiteral("Done"), this);
  done_button->setObjectName(QStringLiteral("done"));
  file_list_button_->setObjectName(QStringLiteral("fileList"));
  trace_button_->setObjectName(QStringLiteral("traceRoute"));
  text_area_->setObjectName(QStringLiteral("userText"));
  file_list_button_->setEnabled(user_.file_lists);

  // The layout keeps the text area's distances to the edges on resizing.
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(done_button);
  buttons->addWidget(file_list_button_);
  buttons->addWidget(trace_button_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_area_);
  layout->addLayout(buttons);
  resize(460, 320);

  connect(done_button, &QPushButton::clicked, this, &QDialog::close);
  connect(file_list_button_, &QPushButton::clicked, this, &UserInfoWindow::appendFileLists);
  connect(trace_button_, &QPushButton::clicked, this, &UserInfoWindow::traceRoute);
}

UserInfoWindow::~UserInfoWindow() { trace_.stop(); }

void UserInfoWindow::showUserInformation() { text_area_->setPlainText(Shown(UserInformationText(user_))); }

void UserInfoWindow::setMonitorFont(const QFont& font, const QColor& colour) {
  text_area_->setFont(font);
  QPalette palette = text_area_->palette();
  palette.setColor(QPalette::Text, colour);
  text_area_->setPalette(palette);
}

QString UserInfoWindow::text() const { return text_area_->toPlainText(); }

void UserInfoWindow::appendFileLists() { appendText(FileListsText(user_)); }

void UserInfoWindow::appendText(const std::string& text) {
  QTextCursor cursor = text_area_->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(Shown(text));
  text_area_->setTextCursor(cursor);
  text_area_->ensureCursorVisible();
}

void UserInfoWindow::traceRoute() {
  TraceRequest request;
  request.destination = user_.peer_address;
  QPointer<UserInfoWindow> self(this);
  // Lines arrive on the trace's thread; the window takes them on its own.
  auto lines = [self](std::string line) {
    QMetaObject::invokeMethod(
        self.data(), [self, line = std::move(line)] { if (self) self->appendText(line); }, Qt::QueuedConnection);
  };
  auto finished = [self] {
    QMetaObject::invokeMethod(
        self.data(), [self] { if (self) self->endTrace(); }, Qt::QueuedConnection);
  };
  if (!trace_.start(std::move(request), lines, finished)) return;
  trace_button_->setEnabled(false);
  setCursor(Qt::BusyCursor);
}

void UserInfoWindow::endTrace() {
  trace_button_->setEnabled(true);
  unsetCursor();
  emit traceFinished();
}

}  // namespace talvek::console
