// Checking and normalising the text of a "config set" value, one rule per
// kind of setting. Internal to the config command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvek::settings::config {

enum class Rule {
  Text,       // any text without control characters
  Directory,  // text; a trailing "/" is added when missing
  Address,    // a dotted IPv4 address or empty
  Flag,       // 0 or 1
  Number,     // 0 to 4294967295
  Port,       // 1 to 65535
  Percent,    // 0 to 100
  Rights,     // 0 to 7, or letters from "rwd"
  AnonRoot,   // text of at most 262 characters
  Seconds,    // 0 to 60
  Count,      // 0 to 1000
  Minutes,    // 1 to 10080 (a week)
  AnyPort,    // 0 (any) to 65535
  TlsMode,    // 0 off, 1 allowed, 2 required
  FilePath,   // an absolute path, or empty
};

struct CheckedValue {
  std::string text;     // normalised text for text rules
  uint32_t number = 0;  // the value for numeric rules
};

// The checked value, or nothing with `problem` set to what is wrong.
std::optional<CheckedValue> CheckValue(Rule rule, std::string_view input, std::string& problem);

}  // namespace talvek::settings::config
