// The values only the console reads and writes in the settings key: the
// window rectangles, the bar layout and the monitor font and colour. The
// caller owns the store; nothing here saves it to its file.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QRect>

#include "settings/registry_store.h"

namespace talvek::console {

inline constexpr std::string_view kWindowRectValue = "WndRect";
inline constexpr std::string_view kUserRectValue = "UserRect";
inline constexpr std::string_view kStatsRectValue = "StatsRect";
inline constexpr std::string_view kBarStateValue = "BarState";
inline constexpr std::string_view kFontValue = "DefaultFont";
inline constexpr std::string_view kFontColorValue = "FontColor";

// 16 bytes: left, top, right, bottom as little-endian int32 (right and
// bottom exclusive). Unpacking refuses other sizes and empty rectangles.
std::vector<uint8_t> PackRect(const QRect& rect);
std::optional<QRect> UnpackRect(const std::vector<uint8_t>& bytes);

std::optional<QRect> ReadRect(const settings::RegistryStore& store, std::string_view name);
void WriteRect(settings::RegistryStore& store, std::string_view name, const QRect& rect);

QByteArray ReadBarState(const settings::RegistryStore& store);
void WriteBarState(settings::RegistryStore& store, const QByteArray& state);

// Colours are stored as 0x00BBGGRR.
QColor ColorFromRef(uint32_t ref);
uint32_t RefFromColor(const QColor& color);

// "DefaultFont" is a 60-byte font record: height, width, escapement,
// orientation, weight (int32 each), italic, underline, strike-out,
// character set, three precision bytes, pitch and family, and a 32-byte
// NUL-terminated face name.
std::vector<uint8_t> PackFont(const QFont& font);
std::optional<QFont> UnpackFont(const std::vector<uint8_t>& bytes);

struct MonitorLook {
  QFont font;
  QColor color;
};
// The stored font and colour; a fixed-pitch font in black when missing.
MonitorLook ReadMonitorLook(const settings::RegistryStore& store);
void WriteMonitorLook(settings::RegistryStore& store, const MonitorLook& look);

}  // namespace talvek::console
