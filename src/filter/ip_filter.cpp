#include "filter/ip_filter.h"

#include "filter/pattern_engine.h"

namespace talvek::filter {

namespace {
// Each check compiles afresh: nothing compiled outlives the entry it came from.
bool EntryMatches(std::string_view storedEntry, std::string_view peerAddress) {
  return PatternMatches(storedEntry, peerAddress);
}
}  // namespace

bool IsRefused(const FilterEntries& entries, bool filterEnabled, bool blockListed,
               std::string_view peerAddress) {
  if (!filterEnabled) return false;
  bool matched = false;
  for (const std::string& entry : entries) {
    if (EntryMatches(entry, peerAddress)) {
      matched = true;
      break;
    }
  }
  return blockListed ? matched : !matched;
}

bool IsRefused(const FilterList& list, bool filterEnabled, bool blockListed,
               std::string_view peerAddress) {
  return IsRefused(*list.snapshot(), filterEnabled, blockListed, peerAddress);
}

}  // namespace talvek::filter
