// The means of the per-step columns between recorded rows, held to the same runs recorded at every
// step.
#include <gtest/gtest.h>

#include <atomic>
#include <charconv>
#include <string>
#include <vector>

#include "Csv.h"
#include "Requests.h"
#include "sweep/Record.h"
#include "sweep/Run.h"
#include "sweep/Sinks.h"

namespace zelmora::sweep {
namespace {

using zelmora::testing::Fields;
using zelmora::testing::Lines;

// A run's rows as the CSV writes them, each split into its fields.
std::vector<std::vector<std::string>> RowsOf(const Request& request, std::int64_t index) {
  CsvSink csv(RunAt(request, request.seed.value(), index), "unused.csv", request.means);
  std::vector<RunSink*> sinks = {&csv};
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> steps{0};
  RunModel({request.steps, request.recordEvery, request.quietSteps}, RunAt(request, *request.seed, index), sinks, stop,
           steps);
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Lines(csv.Release().text)) rows.push_back(Fields(line));
  return rows;
}

double Number(const std::string& text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// Over seeds, intervals and stops (a market that flips every step at returns to scale 0.9, runs
// that settle): each mean is the sum, in step order, of the column's values at every step since the
// row before, divided by their count, to the bit; empty at step 0. The other columns are those of
// the same run without means, byte for byte.
TEST(StepMeans, AreTheMeansOfEveryStepSinceTheRowBefore) {
  const std::vector<Column>& with = Columns(true);
  const std::size_t base = Columns().size();
  std::vector<std::pair<std::size_t, std::size_t>> means;  // a mean's column and its column's
  for (std::size_t k = base; k < with.size(); ++k) means.emplace_back(k, ColumnIndex(with[k].name.substr(0, with[k].name.size() - 5)));
  ASSERT_FALSE(means.empty());
  struct Case {
    double returnsToScale;
    std::int32_t every, quietSteps;
  };
  const Case cases[] = {{0.9, 2, 0}, {0.9, 7, 0}, {1.1, 3, 2}, {1, 1, 0}, {1, 4, 1}};
  for (const Case& c : cases) {
    Request request = zelmora::testing::Small("", 20, 150, 60, c.every, 6, 11);
    zelmora::testing::Given(request, "returns_to_scale", c.returnsToScale);
    request.quietSteps = c.quietSteps;
    Request plain = request, everyStep = request;
    request.means = true;
    everyStep.recordEvery = 1;
    for (std::int64_t index = 0; index < request.repeats; ++index) {
      const auto rows = RowsOf(request, index), plainRows = RowsOf(plain, index), steps = RowsOf(everyStep, index);
      ASSERT_EQ(rows.size(), plainRows.size());
      std::size_t before = 0;  // the step of the row before
      for (std::size_t r = 0; r < rows.size(); ++r) {
        ASSERT_EQ(rows[r].size(), with.size());
        EXPECT_EQ(std::vector<std::string>(rows[r].begin(), rows[r].begin() + std::ptrdiff_t(base)), plainRows[r]);
        const std::size_t step = std::stoul(rows[r][ColumnIndex("step")]);
        for (const auto& [mean, column] : means) {
          if (step == 0) {
            EXPECT_EQ(rows[r][mean], "") << with[mean].name;
            continue;
          }
          double sum = 0;
          for (std::size_t s = before + 1; s <= step; ++s) sum += Number(steps[s][column]);
          std::string expected;
          AppendNumber(expected, sum / double(step - before));
          EXPECT_EQ(rows[r][mean], expected) << with[mean].name << " at step " << step << " of run " << index;
        }
        before = step;
      }
    }
  }
}

}  // namespace
}  // namespace zelmora::sweep
