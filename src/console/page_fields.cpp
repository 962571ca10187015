#include "console/page_fields.h"

#include <filesystem>
#include <vector>

#include <QCheckBox>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "settings/settings.h"

namespace talvek::console {

QString ToQString(const std::string& text) { return QString::fromStdString(text); }

std::string ToStdString(const QString& text) { return text.toStdString(); }

QLineEdit* MakeNumberField(QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), field));
  return field;
}

void SetNumber(QLineEdit* field, uint32_t value) { field->setText(QString::number(value)); }

std::optional<uint32_t> NumberIn(const QLineEdit* field, uint32_t low, uint32_t high) {
  bool ok = false;
  qulonglong value = field->text().trimmed().toULongLong(&ok);
  if (!ok || value < low || value > high) return std::nullopt;
  return static_cast<uint32_t>(value);
}

QString RangeMessage(uint32_t low, uint32_t high) {
  return QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high);
}

void FollowCheckBox(QCheckBox* box, std::initializer_list<QWidget*> widgets) {
  std::vector<QWidget*> followers(widgets);
  auto apply = [followers](bool on) {
    for (QWidget* widget : followers) widget->setEnabled(on);
  };
  apply(box->isChecked());
  QObject::connect(box, &QCheckBox::toggled, box, apply);
}

std::string CleanDirectory(const std::string& path) {
  if (path.empty()) return path;
  std::string clean = std::filesystem::path(path).lexically_normal().string();
  return settings::WithTrailingSlash(clean);
}

}  // namespace talvek::console
