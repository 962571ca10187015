#include "settings/config_values.h"

#include "settings/reg_text.h"
#include "settings/settings.h"

namespace talvek::settings::config {

namespace {

constexpr size_t kMaxAnonymousRoot = 262;

std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t low, uint32_t high) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return static_cast<uint32_t>(value);
}

// Four decimal numbers 0..255 without leading zeros (which some parsers read as octal).
bool IsDottedIpv4(std::string_view text) {
  for (int part = 0; part < 4; ++part) {
    size_t dot = text.find('.');
    if ((part < 3) != (dot != std::string_view::npos)) return false;
    std::string_view digits = text.substr(0, dot);
    if (digits.size() > 1 && digits.front() == '0') return false;
    if (!ParseDecimal(digits, 0, 255)) return false;
    text.remove_prefix(part < 3 ? dot + 1 : text.size());
  }
  return true;
}

std::optional<uint32_t> ParseRights(std::string_view text) {
  if (std::optional<uint32_t> number = ParseDecimal(text, 0, 7)) return number;
  if (text.empty()) return std::nullopt;
  uint32_t rights = 0;
  for (char c : text) {
    if (c == 'r') rights |= 1;
    else if (c == 'w') rights |= 2;
    else if (c == 'd') rights |= 4;
    else return std::nullopt;
  }
  return rights;
}

std::optional<uint32_t> CheckNumber(Rule rule, std::string_view input, std::string& problem) {
  std::optional<uint32_t> number;
  switch (rule) {
    case Rule::Flag:
      number = ParseDecimal(input, 0, 1);
      problem = "expected 0 or 1";
      break;
    case Rule::Number:
      number = ParseDecimal(input, 0, UINT32_MAX);
      problem = "expected a number from 0 to 4294967295";
      break;
    case Rule::Port:
      number = ParseDecimal(input, 1, 65535);
      problem = "expected a port from 1 to 65535";
      break;
    case Rule::AnyPort:
      number = ParseDecimal(input, 0, 65535);
      problem = "expected a port from 1 to 65535, or 0 for any";
      break;
    case Rule::Percent:
      number = ParseDecimal(input, 0, 100);
      problem = "expected a number from 0 to 100";
      break;
    case Rule::Seconds:
      number = ParseDecimal(input, 0, 60);
      problem = "expected a number of seconds from 0 to 60";
      break;
    case Rule::Count:
      number = ParseDecimal(input, 0, 1000);
      problem = "expected a number from 0 to 1000";
      break;
    case Rule::Minutes:
      number = ParseDecimal(input, 1, 10080);
      problem = "expected a number of minutes from 1 to 10080";
      break;
    default:
      number = ParseRights(input);
      problem = "expected 0 to 7 or letters from r, w, d";
      break;
  }
  if (number) problem.clear();
  return number;
}

}  // namespace

std::optional<CheckedValue> CheckValue(Rule rule, std::string_view input, std::string& problem) {
  CheckedValue checked;
  if (rule == Rule::Text || rule == Rule::Directory || rule == Rule::Address || rule == Rule::AnonRoot) {
    if (regtext::HasControlCharacter(input)) {
      problem = "control characters are not allowed";
      return std::nullopt;
    }
    if (rule == Rule::Address && !input.empty() && !IsDottedIpv4(input)) {
      problem = "expected a dotted IPv4 address or an empty text";
      return std::nullopt;
    }
    if (rule == Rule::AnonRoot && input.size() > kMaxAnonymousRoot) {
      problem = "longer than 262 characters";
      return std::nullopt;
    }
    checked.text = std::string(input);
    if (rule == Rule::Directory) checked.text = WithTrailingSlash(std::move(checked.text));
    return checked;
  }
  std::optional<uint32_t> number = CheckNumber(rule, input, problem);
  if (!number) return std::nullopt;
  checked.number = *number;
  return checked;
}

}  // namespace talvek::settings::config
