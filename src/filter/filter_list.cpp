#include "filter/filter_list.h"

#include <algorithm>
#include <cctype>

namespace talvek::filter {
namespace {

constexpr std::string_view kWildcard = "*";
constexpr std::string_view kDigits = "[0-9]+";

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string result;
  std::size_t at = 0;
  for (std::size_t hit = text.find(from); hit != std::string_view::npos; hit = text.find(from, at)) {
    result.append(text.substr(at, hit - at)).append(to);
    at = hit + from.size();
  }
  result.append(text.substr(at));
  return result;
}

}  // namespace

FilterList::FilterList(FilterEntries entries)
    : entries_(std::make_shared<const FilterEntries>(std::move(entries))) {}

std::shared_ptr<const FilterEntries> FilterList::snapshot() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void FilterList::replace(FilterEntries entries) {
  auto fresh = std::make_shared<const FilterEntries>(std::move(entries));
  std::lock_guard lock(mutex_);
  entries_ = std::move(fresh);
}

void FilterList::append(std::string entry) {
  std::lock_guard lock(mutex_);
  FilterEntries copy = *entries_;
  copy.push_back(std::move(entry));
  entries_ = std::make_shared<const FilterEntries>(std::move(copy));
}

std::string ToStoredForm(std::string_view wildcard) { return ReplaceAll(wildcard, kWildcard, kDigits); }

std::string ToWildcardForm(std::string_view stored) { return ReplaceAll(stored, kDigits, kWildcard); }

bool SameEntry(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

}  // namespace talvek::filter
