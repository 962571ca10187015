#include "console/tray_icon.h"

#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace talvek::console {

QString TrayTipText(const QString& title, bool active, int connections) {
  if (!active) return QStringLiteral("%1\r\n%2").arg(title, QStringLiteral("Not Active"));
  QString noun = QStringLiteral(" connection");
  if (connections != 1) noun += QLatin1Char('s');
  return QStringLiteral("%1\r\n%2 - %3 %4").arg(title, QStringLiteral("Active")).arg(connections).arg(noun);
}

QIcon ServerStateIcon(bool active) {
  QIcon icon;
  for (int size : {16, 22, 32, 64}) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const double edge = size / 16.0;
    QColor fill = active ? QColor(40, 160, 60) : QColor(150, 150, 150);
    painter.setPen(QPen(fill.darker(160), edge));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(edge, edge, size - 2 * edge, size - 2 * edge));
    // An upward and a downward arrow: files going both ways.
    painter.setPen(QPen(Qt::white, 1.6 * edge, Qt::SolidLine, Qt::RoundCap));
    const double mid = size / 2.0, top = size * 0.28, bottom = size * 0.72, gap = size * 0.14;
    painter.drawLine(QPointF(mid - gap, bottom), QPointF(mid - gap, top));
    painter.drawLine(QPointF(mid - gap, top), QPointF(mid - 2 * gap, top + gap));
    painter.drawLine(QPointF(mid + gap, top), QPointF(mid + gap, bottom));
    painter.drawLine(QPointF(mid + gap, bottom), QPointF(mid + 2 * gap, bottom - gap));
    painter.end();
    icon.addPixmap(picture);
  }
  return icon;
}

void FillTrayMenu(QMenu& menu, const TrayMenuState& state, TrayCommands& commands) {
  menu.clear();
  QAction* toggle = menu.addAction(state.active ? QObject::tr("Deactivate") : QObject::tr("Activate"), &commands,
                                   &TrayCommands::toggleRequested);
  menu.setDefaultAction(toggle);
  menu.addSeparator();
  QList<QAction*> blocked;
  blocked << menu.addAction(QObject::tr("Configure..."), &commands, &TrayCommands::configureRequested);
  blocked << menu.addAction(QObject::tr("Accounts..."), &commands, &TrayCommands::accountsRequested);
  blocked << menu.addAction(QObject::tr("IP Filtering..."), &commands, &TrayCommands::filterRequested);
  menu.addSeparator();
  if (state.window_hidden) menu.addAction(QObject::tr("Open"), &commands, &TrayCommands::openRequested);
  blocked << menu.addAction(QObject::tr("Exit"), &commands, &TrayCommands::exitRequested);
  for (QAction* action : blocked) action->setEnabled(!state.dialog_open);
}

TrayIcon::TrayIcon(std::function<TrayMenuState()> state, QObject* parent)
    : TrayCommands(parent), state_(std::move(state)), menu_(std::make_unique<QMenu>()),
      icon_(std::make_unique<QSystemTrayIcon>(ServerStateIcon(false))) {
  // Until the first refresh the tip says the server is not running yet.
  icon_->setToolTip(QStringLiteral("%1\r\n%2").arg(QStringLiteral("Talvek FTP"), QStringLiteral("Disabled")));
  connect(menu_.get(), &QMenu::aboutToShow, this, [this] { FillTrayMenu(*menu_, state_(), *this); });
  icon_->setContextMenu(menu_.get());
  connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) emit openRequested();
    if (reason == QSystemTrayIcon::Trigger) showMenuAtCursor();
  });
  icon_->show();
}

TrayIcon::~TrayIcon() {
  if (icon_) icon_->hide();
}

void TrayIcon::update(const QString& title, bool active, int connections) {
  icon_->setIcon(ServerStateIcon(active));
  setTip(TrayTipText(title, active, connections));
}

void TrayIcon::setTip(const QString& tip) { icon_->setToolTip(tip); }

void TrayIcon::showMenuAtCursor() { menu_->popup(QCursor::pos()); }

}  // namespace talvek::console
