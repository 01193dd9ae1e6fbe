#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelmora::sweep {

// Runs of a sweep chosen by their indices: ranges of runs, both ends included, kept sorted, apart
// and joined where they touch, so that one choice has one form however it was written. Counted,
// not listed: 0:999999999 costs nothing. Empty: no choice, every run.
class RunSelection {
 public:
  struct Range {
    std::int64_t first = 0, last = 0;
    bool operator==(const Range&) const = default;
  };
  // The last run of the largest sweep: no run index is above it.
  static constexpr std::int64_t MaxRun = 999'999'999;

  RunSelection() = default;
  // The runs of `ranges` (0 <= first <= last <= MaxRun each), in any order, overlapping or not.
  explicit RunSelection(std::vector<Range> ranges);

  bool Empty() const { return ranges_.empty(); }
  std::int64_t Size() const { return ranges_.empty() ? 0 : before_.back() + Length(ranges_.back()); }
  std::int64_t Last() const { return ranges_.back().last; }
  const std::vector<Range>& Ranges() const { return ranges_; }
  // The k-th run chosen, in run order (0 <= k < Size()).
  std::int64_t At(std::int64_t k) const;
  // Where `run` stands among the runs chosen; nothing when it is not chosen.
  std::optional<std::int64_t> PositionOf(std::int64_t run) const;
  // The first run of `other` that is not chosen here; nothing when every one is.
  std::optional<std::int64_t> FirstMissing(const RunSelection& other) const;
  // As the command line writes it: "13,20,100:110", a range as first:last.
  std::string Text() const;

  bool operator==(const RunSelection& other) const { return ranges_ == other.ranges_; }

 private:
  static std::int64_t Length(const Range& range) { return range.last - range.first + 1; }
  // The range that holds `run`, or the first above it.
  std::vector<Range>::const_iterator RangeOf(std::int64_t run) const;

  std::vector<Range> ranges_;
  std::vector<std::int64_t> before_;  // the runs chosen in the ranges before each
};

// Runs as the command line writes them: runs and ranges first:last, separated by commas
// ("13,20,100:110"), each a whole number from 0 to MaxRun, a range's first at most its last.
// Nothing when the text is not that.
std::optional<RunSelection> ParseRuns(std::string_view text);

}  // namespace zelmora::sweep
