// The ordered list of stored filter patterns, owned by the server object.
// Admission reads it on the control thread while the operator replaces it:
// readers take a snapshot, which is the whole old or the whole new list.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace talvek::filter {

using FilterEntries = std::vector<std::string>;

class FilterList {
 public:
  FilterList() = default;
  explicit FilterList(FilterEntries entries);
  FilterList(const FilterList&) = delete;
  FilterList& operator=(const FilterList&) = delete;

  // The current entries, shared and immutable; cheap to take per check.
  std::shared_ptr<const FilterEntries> snapshot() const;
  FilterEntries entries() const { return *snapshot(); }
  void replace(FilterEntries entries);
  void append(std::string entry);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const FilterEntries> entries_ = std::make_shared<const FilterEntries>();
};

// The operator types "*" for one or more digits; it is stored as "[0-9]+".
// Nothing else is converted: "." stays the engine's any-character item.
std::string ToStoredForm(std::string_view wildcard);
// Every "[0-9]+" of a stored pattern is shown as "*".
std::string ToWildcardForm(std::string_view stored);
// Entries are the same when they compare equal ignoring ASCII case.
bool SameEntry(std::string_view a, std::string_view b);

}  // namespace talvek::filter
