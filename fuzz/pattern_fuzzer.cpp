// The IP filter's pattern compiler and matcher. Any pattern and subject:
// compiling either succeeds with a program that fits its area or records an
// error; matching stays within its step and depth bounds, is repeatable, and
// reports groups inside the subject; the text it matched matches again on its
// own. Patterns over a small alphabet are also checked against std::regex
// (POSIX extended), which must agree on whether there is a match at all.
#include <cstdint>
#include <regex>
#include <string>
#include <string_view>

#include <fuzzer/FuzzedDataProvider.h>

#include "filter/pattern_engine.h"
#include "fuzz_check.h"

namespace {

namespace fl = talvek::filter;

// Matches and checks the bounds and the groups; the match result.
bool CheckedMatch(fl::PatternEngine& engine, std::string_view subject) {
  bool matched = engine.match(subject);
  FUZZ_CHECK(engine.lastMatchSteps() <= fl::kMaxMatchSteps, "steps bounded");
  FUZZ_CHECK(engine.lastMatchDepth() <= fl::kMaxMatchDepth, "depth bounded");
  FUZZ_CHECK(!(matched && engine.lastMatchHitLimit()), "a match stopped at the bound is no match");
  size_t length = subject.substr(0, subject.find('\0')).size();
  FUZZ_CHECK(matched == engine.group(0).has_value(), "group 0 exactly for a match");
  for (int n = 0; n < fl::kGroupCount; ++n) {
    if (auto group = engine.group(n)) FUZZ_CHECK(group->first <= group->second && group->second <= length, "group inside the subject");
  }
  return matched;
}

void CheckPattern(std::string_view pattern, std::string_view subject) {
  fl::PatternEngine engine;
  if (!engine.compile(pattern)) {
    FUZZ_CHECK(engine.program().empty(), "a failed compile leaves no program");
    FUZZ_CHECK(engine.errorCount() > 0 && !engine.errorMessage().empty(), "a failed compile says why");
    FUZZ_CHECK(!engine.match(subject), "no program matches nothing");
    return;
  }
  FUZZ_CHECK(engine.errorCount() == 0, "a compile that succeeds records no error");
  FUZZ_CHECK(!engine.program().empty() && engine.program().size() <= fl::kProgramArea, "program fits its area");
  bool matched = CheckedMatch(engine, subject);
  bool limited = engine.lastMatchHitLimit();
  // Only the bound may record an error while matching a compiled program.
  FUZZ_CHECK(engine.errorCount() == (limited ? 1 : 0), "a compiled program never looks corrupt to the matcher");
  auto whole = engine.group(0);
  FUZZ_CHECK(CheckedMatch(engine, subject) == matched, "matching is repeatable");
  if (matched) {
    // Anchors only get easier to meet in the matched text alone.
    std::string_view found = subject.substr(whole->first, whole->second - whole->first);
    bool again = CheckedMatch(engine, found);
    FUZZ_CHECK(again || engine.lastMatchHitLimit(), "the matched text matches on its own");
  }
}

// A small alphabet on which this engine and POSIX extended expressions mean
// the same. Inside a set "[" is left out: POSIX reads "[." "[:" "[=" there.
std::string Over(std::string_view alphabet, const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) text += alphabet[c % alphabet.size()];
  return text;
}

std::string PatternOver(const std::string& bytes) {
  std::string text;
  bool in_set = false;
  for (unsigned char c : bytes) {
    std::string_view alphabet = in_set ? "ab-^]" : "ab.*+?|()^$[";
    text += alphabet[c % alphabet.size()];
    in_set = in_set ? text.back() != ']' : text.back() == '[';
  }
  return text;
}

void CheckAgainstRegex(const std::string& pattern, const std::string& subject) {
  fl::PatternEngine engine;
  if (!engine.compile(pattern)) return;
  std::regex reference;
  try {
    // The default executor backtracks: "(a*)*(a*)*$" over twelve letters takes
    // seconds. The breadth-first one answers whether there is a match in
    // polynomial time, which is all this check asks.
    reference = std::regex(pattern, std::regex::extended | std::regex_constants::__polynomial);
  } catch (const std::regex_error&) {
    return;
  }
  bool matched = engine.match(subject);
  if (engine.lastMatchHitLimit()) return;
  FUZZ_CHECK(matched == std::regex_search(subject, reference), "agrees with std::regex on whether it matches");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    std::string pattern = input.ConsumeRandomLengthString(fl::kMaxPatternLength + 64);
    std::string subject = input.ConsumeRemainingBytesAsString();
    CheckPattern(pattern, subject);
  } else {
    std::string pattern = PatternOver(input.ConsumeRandomLengthString(24));
    std::string subject = Over("ab-^", input.ConsumeRandomLengthString(24));
    CheckPattern(pattern, subject);
    CheckAgainstRegex(pattern, subject);
  }
  return 0;
}
