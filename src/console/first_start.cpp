#include "console/first_start.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/defaults_import.h"
#include "settings/settings.h"

namespace talvek::console {

bool RunFirstStartWithNotice(settings::RegistryStore& store, const std::filesystem::path& program_directory,
                             QWidget* parent) {
  if (settings::ReadNewInstall(store) == 0) return false;
  QDialog notice(parent, Qt::Dialog | Qt::WindowTitleHint);
  notice.setObjectName("firstStartNotice");
  notice.setWindowTitle(QStringLiteral("Talvek FTP"));
  auto* layout = new QVBoxLayout(&notice);
  layout->addWidget(new QLabel(QString::fromLatin1(kFirstStartNotice), &notice));
  notice.show();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Let the notice paint before the import holds the thread.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  settings::RunFirstStartImport(store, program_directory);
  QApplication::restoreOverrideCursor();
  notice.hide();
  return true;
}

}  // namespace talvek::console
