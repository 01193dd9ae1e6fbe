#include "sweep/RunSelection.h"

#include <algorithm>

#include "sweep/ParameterTable.h"

namespace zelmora::sweep {

RunSelection::RunSelection(std::vector<Range> ranges) {
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
  for (const Range& range : ranges) {
    // Touching ranges join: 1:3 and 4:5 are 1:5.
    if (!ranges_.empty() && range.first - 1 <= ranges_.back().last) {
      ranges_.back().last = std::max(ranges_.back().last, range.last);
    } else {
      ranges_.push_back(range);
    }
  }
  std::int64_t before = 0;
  for (const Range& range : ranges_) {
    before_.push_back(before);
    before += Length(range);
  }
}

std::vector<RunSelection::Range>::const_iterator RunSelection::RangeOf(std::int64_t run) const {
  return std::lower_bound(ranges_.begin(), ranges_.end(), run, [](const Range& r, std::int64_t v) { return r.last < v; });
}

std::int64_t RunSelection::At(std::int64_t k) const {
  const std::size_t range = std::size_t(std::upper_bound(before_.begin(), before_.end(), k) - before_.begin()) - 1;
  return ranges_[range].first + (k - before_[range]);
}

std::optional<std::int64_t> RunSelection::PositionOf(std::int64_t run) const {
  const auto range = RangeOf(run);
  if (range == ranges_.end() || run < range->first) return std::nullopt;
  return before_[std::size_t(range - ranges_.begin())] + (run - range->first);
}

std::optional<std::int64_t> RunSelection::FirstMissing(const RunSelection& other) const {
  for (const Range& wanted : other.ranges_) {
    const auto range = RangeOf(wanted.first);
    if (range == ranges_.end() || wanted.first < range->first) return wanted.first;
    // Ranges kept here are apart, so one of them holds the whole of `wanted` or it is not held.
    if (wanted.last > range->last) return range->last + 1;
  }
  return std::nullopt;
}

std::string RunSelection::Text() const {
  std::string text;
  for (const Range& range : ranges_) {
    if (!text.empty()) text += ',';
    text += std::to_string(range.first);
    if (range.last != range.first) text += ":" + std::to_string(range.last);
  }
  return text;
}

std::optional<RunSelection> ParseRuns(std::string_view text) {
  std::vector<RunSelection::Range> ranges;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view part = text.substr(0, comma);
    const std::size_t colon = part.find(':');
    const auto first = WholeText<std::int64_t>(part.substr(0, colon));
    const auto last = colon == std::string_view::npos ? first : WholeText<std::int64_t>(part.substr(colon + 1));
    if (!first || !last || *first < 0 || *first > *last || *last > RunSelection::MaxRun) return std::nullopt;
    ranges.push_back({*first, *last});
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return RunSelection(std::move(ranges));
}

}  // namespace zelmora::sweep
