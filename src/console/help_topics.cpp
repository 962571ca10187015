#include "console/help_topics.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace talvek::console {

std::vector<std::filesystem::path> HelpCandidates(const std::filesystem::path& program_directory) {
  return {program_directory / "docs" / "index.html", program_directory / "talvek-ftp.html",
          program_directory / "README.md", program_directory / ".." / "share" / "doc" / "talvek-ftp" / "README.md"};
}

std::optional<std::filesystem::path> FindHelpFile(const std::filesystem::path& program_directory) {
  for (const auto& candidate : HelpCandidates(program_directory)) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return std::nullopt;
}

namespace {

void ShowNoHelp(const QString& text, QWidget* parent) {
  auto* box = new QMessageBox(QMessageBox::Information, QObject::tr("Help Topics"), text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace

void OpenHelpTopics(const std::filesystem::path& program_directory, QWidget* parent) {
  auto found = FindHelpFile(program_directory);
  if (!found) {
    QString places;
    for (const auto& candidate : HelpCandidates(program_directory))
      places += QStringLiteral("\n") + QString::fromStdString(candidate.lexically_normal().string());
    ShowNoHelp(QObject::tr("No help file was found. Looked for:") + places, parent);
    return;
  }
  QString path = QString::fromStdString(found->lexically_normal().string());
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
    ShowNoHelp(QObject::tr("The help file %1 could not be opened: no viewer is set up for it.").arg(path), parent);
}

}  // namespace talvek::console
