#include "settings/config_values.h"

#include <algorithm>
#include <iterator>

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

// The numeric rules: their bounds and what a refusal says.
struct NumberRule {
  Rule rule;
  uint32_t low, high;
  const char* problem;
};
constexpr NumberRule kNumberRules[] = {
    {Rule::Flag, 0, 1, "expected 0 or 1"},
    {Rule::Number, 0, UINT32_MAX, "expected a number from 0 to 4294967295"},
    {Rule::Port, 1, 65535, "expected a port from 1 to 65535"},
    {Rule::AnyPort, 0, 65535, "expected a port from 1 to 65535, or 0 for any"},
    {Rule::Percent, 0, 100, "expected a number from 0 to 100"},
    {Rule::Seconds, 0, 60, "expected a number of seconds from 0 to 60"},
    {Rule::Count, 0, 1000, "expected a number from 0 to 1000"},
    {Rule::Minutes, 1, 10080, "expected a number of minutes from 1 to 10080"},
    {Rule::TlsMode, 0, 2, "expected 0 (off), 1 (allowed) or 2 (required)"},
};

std::optional<uint32_t> CheckNumber(Rule rule, std::string_view input, std::string& problem) {
  std::optional<uint32_t> number;
  problem = "expected 0 to 7 or letters from r, w, d";
  const auto* found = std::find_if(std::begin(kNumberRules), std::end(kNumberRules),
                                   [rule](const NumberRule& entry) { return entry.rule == rule; });
  if (found != std::end(kNumberRules)) {
    number = ParseDecimal(input, found->low, found->high);
    problem = found->problem;
  } else {
    number = ParseRights(input);
  }
  if (number) problem.clear();
  return number;
}

}  // namespace

std::optional<CheckedValue> CheckValue(Rule rule, std::string_view input, std::string& problem) {
  CheckedValue checked;
  if (rule == Rule::Text || rule == Rule::Directory || rule == Rule::Address || rule == Rule::AnonRoot ||
      rule == Rule::FilePath) {
    if (regtext::HasControlCharacter(input)) {
      problem = "control characters are not allowed";
      return std::nullopt;
    }
    if (rule == Rule::Address && !input.empty() && !IsDottedIpv4(input)) {
      problem = "expected a dotted IPv4 address or an empty text";
      return std::nullopt;
    }
    // The daemon may run from another directory than the one config ran in.
    if (rule == Rule::FilePath && !input.empty() && input.front() != '/') {
      problem = "expected an absolute path or an empty text";
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
