#include "filter/pattern_engine.h"

#include "filter/pattern_compiler.h"

namespace talvek::filter {

bool PatternEngine::compile(std::string_view pattern) {
  errors_.clear();
  return PatternCompiler(program_, errors_).compile(pattern);
}

bool PatternEngine::match(std::string_view subject) {
  groups_.clear();
  PatternMatcher matcher(program_, errors_, groups_);
  bool matched = matcher.match(subject);
  limitHit_ = matcher.limitExceeded();
  steps_ = matcher.steps();
  depth_ = matcher.deepest();
  if (!matched) groups_.clear();
  return matched;
}

std::optional<std::pair<std::size_t, std::size_t>> PatternEngine::group(int n) const {
  if (n < 0 || n >= kGroupCount) return std::nullopt;
  std::size_t begin = groups_.starts[n];
  std::size_t end = groups_.ends[n];
  if (begin == kNoPosition || end == kNoPosition) return std::nullopt;
  return std::make_pair(begin, end);
}

std::span<const uint8_t> PatternEngine::program() const {
  if (!program_.valid()) return {};
  return {program_.code.data(), program_.size};
}

bool PatternMatches(std::string_view pattern, std::string_view subject) {
  PatternEngine engine;
  return engine.compile(pattern) && engine.match(subject);
}

}  // namespace talvek::filter
