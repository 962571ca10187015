#include "console/console_settings.h"

#include <algorithm>
#include <cstring>

#include <QFontDatabase>

namespace talvek::console {

namespace {

constexpr size_t kRectSize = 16;
constexpr size_t kFontSize = 60;
constexpr size_t kFaceOffset = 28;
constexpr size_t kFaceSize = 32;
// Beyond this a stored rectangle is damage, not a window.
constexpr int kMaxCoordinate = 1 << 20;

void PutInt32(std::vector<uint8_t>& bytes, size_t offset, int32_t value) {
  auto bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

int32_t GetInt32(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= uint32_t{bytes[offset + i]} << (8 * i);
  return static_cast<int32_t>(bits);
}

}  // namespace

std::vector<uint8_t> PackRect(const QRect& rect) {
  std::vector<uint8_t> bytes(kRectSize);
  PutInt32(bytes, 0, rect.left());
  PutInt32(bytes, 4, rect.top());
  PutInt32(bytes, 8, rect.left() + rect.width());
  PutInt32(bytes, 12, rect.top() + rect.height());
  return bytes;
}

std::optional<QRect> UnpackRect(const std::vector<uint8_t>& bytes) {
  if (bytes.size() != kRectSize) return std::nullopt;
  int32_t left = GetInt32(bytes, 0), top = GetInt32(bytes, 4);
  int32_t right = GetInt32(bytes, 8), bottom = GetInt32(bytes, 12);
  auto sane = [](int32_t v) { return v > -kMaxCoordinate && v < kMaxCoordinate; };
  if (!sane(left) || !sane(top) || !sane(right) || !sane(bottom)) return std::nullopt;
  if (right <= left || bottom <= top) return std::nullopt;
  return QRect(left, top, right - left, bottom - top);
}

std::optional<QRect> ReadRect(const settings::RegistryStore& store, std::string_view name) {
  auto bytes = store.getBinary(settings::kSettingsKey, name);
  return bytes ? UnpackRect(*bytes) : std::nullopt;
}

void WriteRect(settings::RegistryStore& store, std::string_view name, const QRect& rect) {
  store.setBinary(settings::kSettingsKey, name, PackRect(rect));
}

QByteArray ReadBarState(const settings::RegistryStore& store) {
  auto bytes = store.getBinary(settings::kSettingsKey, kBarStateValue);
  if (!bytes) return {};
  return QByteArray(reinterpret_cast<const char*>(bytes->data()), static_cast<qsizetype>(bytes->size()));
}

void WriteBarState(settings::RegistryStore& store, const QByteArray& state) {
  std::vector<uint8_t> bytes(state.begin(), state.end());
  store.setBinary(settings::kSettingsKey, kBarStateValue, std::move(bytes));
}

QColor ColorFromRef(uint32_t ref) {
  return QColor(static_cast<int>(ref & 0xff), static_cast<int>((ref >> 8) & 0xff),
                static_cast<int>((ref >> 16) & 0xff));
}

uint32_t RefFromColor(const QColor& color) {
  return static_cast<uint32_t>(color.red()) | static_cast<uint32_t>(color.green()) << 8 |
         static_cast<uint32_t>(color.blue()) << 16;
}

std::vector<uint8_t> PackFont(const QFont& font) {
  std::vector<uint8_t> bytes(kFontSize, 0);
  int pixels = font.pixelSize();
  if (pixels <= 0) pixels = static_cast<int>(font.pointSizeF() * 96.0 / 72.0 + 0.5);
  // A negative height asks for the character height, as the record means it.
  PutInt32(bytes, 0, -std::max(pixels, 1));
  PutInt32(bytes, 16, static_cast<int32_t>(font.weight()));
  bytes[20] = font.italic() ? 1 : 0;
  bytes[21] = font.underline() ? 1 : 0;
  bytes[22] = font.strikeOut() ? 1 : 0;
  bytes[27] = font.fixedPitch() ? 1 : 0;
  QByteArray face = font.family().toLocal8Bit().left(static_cast<qsizetype>(kFaceSize - 1));
  std::memcpy(bytes.data() + kFaceOffset, face.constData(), static_cast<size_t>(face.size()));
  return bytes;
}

std::optional<QFont> UnpackFont(const std::vector<uint8_t>& bytes) {
  if (bytes.size() != kFontSize) return std::nullopt;
  const char* face = reinterpret_cast<const char*>(bytes.data() + kFaceOffset);
  QString family = QString::fromLocal8Bit(face, static_cast<qsizetype>(strnlen(face, kFaceSize)));
  QFont font(family);
  int32_t height = GetInt32(bytes, 0);
  // 0 means "the default size"; absurd sizes from a damaged value are capped.
  if (height != 0 && height != INT32_MIN) font.setPixelSize(std::clamp(height < 0 ? -height : height, 4, 200));
  int32_t weight = GetInt32(bytes, 16);
  if (weight > 0) font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
  font.setItalic(bytes[20] != 0);
  font.setUnderline(bytes[21] != 0);
  font.setStrikeOut(bytes[22] != 0);
  return font;
}

MonitorLook ReadMonitorLook(const settings::RegistryStore& store) {
  MonitorLook look{QFontDatabase::systemFont(QFontDatabase::FixedFont), QColor(Qt::black)};
  if (auto bytes = store.getBinary(settings::kSettingsKey, kFontValue))
    if (auto font = UnpackFont(*bytes)) look.font = *font;
  if (auto bytes = store.getBinary(settings::kSettingsKey, kFontColorValue); bytes && bytes->size() == 4) {
    look.color = ColorFromRef(static_cast<uint32_t>(GetInt32(*bytes, 0)));
  }
  return look;
}

void WriteMonitorLook(settings::RegistryStore& store, const MonitorLook& look) {
  store.setBinary(settings::kSettingsKey, kFontValue, PackFont(look.font));
  std::vector<uint8_t> color(4);
  PutInt32(color, 0, static_cast<int32_t>(RefFromColor(look.color)));
  store.setBinary(settings::kSettingsKey, kFontColorValue, std::move(color));
}

}  // namespace talvek::console
