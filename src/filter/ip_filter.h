// The refusal decision for a client's dotted address: the filter list with
// its enable flag and mode (block the listed addresses, or allow only them).
// Free of server types: admission and the re-check pass plain values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_list.h"

namespace talvek::filter {

// An entry matches anywhere in the address; one that fails to compile, or
// whose match stops at the bound, matches nothing.
// Disabled: nobody is refused. Block mode: refused when an entry matches.
// Allow-only mode: refused when no entry matches (so an empty list refuses all).
bool IsRefused(const FilterEntries& entries, bool filterEnabled, bool blockListed,
               std::string_view peerAddress);
bool IsRefused(const FilterList& list, bool filterEnabled, bool blockListed,
               std::string_view peerAddress);

}  // namespace talvek::filter
