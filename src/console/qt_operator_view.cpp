#include "console/qt_operator_view.h"

#include <QMetaObject>

namespace talvek::console {

QString FromServerText(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

// Emitting through invokeMethod with a queued connection keeps the order of
// the calls and never lets a server thread run widget code, however the
// listeners connected.
class QtOperatorView::Bridge : public server::OperatorView {
 public:
  explicit Bridge(QtOperatorView& owner) : owner_(owner) {}

  void setStatusText(const std::string& text) override {
    queue([&owner = owner_, value = FromServerText(text)] { emit owner.statusTextChanged(value); });
  }
  void showMessage(const std::string& text, const std::string& caption, server::MessageIcon icon) override {
    queue([&owner = owner_, value = FromServerText(text), title = FromServerText(caption),
           kind = static_cast<int>(icon)] { emit owner.messageRequested(value, title, kind); });
  }
  void setTitle(const std::string& title) override {
    queue([&owner = owner_, value = FromServerText(title)] { emit owner.titleChanged(value); });
  }
  void userListChanged() override {
    queue([&owner = owner_] { emit owner.userListChanged(); });
  }
  void appendMonitorText(const std::string& text) override {
    if (text.empty()) return;
    queue([&owner = owner_, value = FromServerText(text)] { emit owner.monitorTextAppended(value); });
  }

 private:
  template <typename Work>
  void queue(Work work) {
    QMetaObject::invokeMethod(&owner_, std::move(work), Qt::QueuedConnection);
  }
  QtOperatorView& owner_;
};

QtOperatorView::QtOperatorView(QObject* parent) : QObject(parent), bridge_(std::make_unique<Bridge>(*this)) {}

QtOperatorView::~QtOperatorView() = default;

server::OperatorView& QtOperatorView::operatorView() { return *bridge_; }

}  // namespace talvek::console
