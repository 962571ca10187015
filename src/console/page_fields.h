// Small pieces shared by the configuration pages and the account dialogs:
// text conversion, unsigned number fields with their range message, and
// enabling rules that follow a check box.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include <QString>

class QCheckBox;
class QLineEdit;
class QWidget;

namespace talvek::console {

// `widget` with its object name set (tests find fields by name).
template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

// Settings texts are UTF-8 std::strings.
QString ToQString(const std::string& text);
std::string ToStdString(const QString& text);

// A line edit that accepts up to ten decimal digits.
QLineEdit* MakeNumberField(QWidget* parent);
void SetNumber(QLineEdit* field, uint32_t value);
// The field's number when it lies in [low, high]; nothing when empty or outside.
std::optional<uint32_t> NumberIn(const QLineEdit* field, uint32_t low, uint32_t high);
// "Please enter an integer between <low> and <high>."
QString RangeMessage(uint32_t low, uint32_t high);

// Enables `widgets` exactly while `box` is checked, now and on every change.
void FollowCheckBox(QCheckBox* box, std::initializer_list<QWidget*> widgets);

// "" stays ""; otherwise the path without "." and ".." steps, with a trailing "/".
std::string CleanDirectory(const std::string& path);

}  // namespace talvek::console
