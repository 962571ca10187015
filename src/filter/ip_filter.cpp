#include "filter/ip_filter.h"

#include "filter/pattern_engine.h"

namespace talvek::filter {

bool EntryMatches(std::string_view storedEntry, std::string_view peerAddress) {
  // Each check compiles afresh: nothing compiled outlives the entry it came from.
  return PatternMatches(storedEntry, peerAddress);
}

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

std::vector<std::size_t> FindRefusedPeers(const FilterList& list, bool filterEnabled,
                                          bool blockListed,
                                          const std::vector<std::string>& peerAddresses) {
  std::vector<std::size_t> refused;
  if (!filterEnabled) return refused;
  auto entries = list.snapshot();
  for (std::size_t i = 0; i < peerAddresses.size(); ++i) {
    if (IsRefused(*entries, filterEnabled, blockListed, peerAddresses[i])) refused.push_back(i);
  }
  return refused;
}

}  // namespace talvek::filter
