#include "batch/Record.h"

#include <bit>
#include <charconv>
#include <cmath>

#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::batch {
namespace {

template <typename T>
void AppendChars(std::string& out, T value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, ec == std::errc() ? end : buffer);
}

}  // namespace

void AppendNumber(std::string& out, double value) {
  if (std::isnan(value)) return;
  AppendChars(out, value + 0.0);  // -0 + 0 is +0
}

void AppendNumber(std::string& out, std::int64_t value) { AppendChars(out, value); }
void AppendNumber(std::string& out, std::uint64_t value) { AppendChars(out, value); }

void AppendValue(std::string& out, ColumnKind kind, const ColumnValue& value) {
  if (kind == ColumnKind::Real) {
    AppendNumber(out, value.real);
  } else {
    AppendNumber(out, value.integer);
  }
}

RowWriter::RowWriter(const RunPlan& run, std::int32_t cols, std::int32_t rows)
    : source_{&run, cols, rows}, texts_(Columns().size() * Slots) {
  const std::vector<Column>& columns = Columns();
  source_.run = nullptr;  // the plan may not outlive the writer: what a row needs of it is in the prefix
  const RowSource runOnly{&run, cols, rows};
  while (firstStepColumn_ < columns.size() && columns[firstStepColumn_].perRun) {
    const Column& column = columns[firstStepColumn_++];
    AppendValue(prefix_, column.kind, column.read(runOnly));
    prefix_ += ',';
  }
}

void RowWriter::AppendRecurring(std::string& out, std::size_t column, double value) {
  if (std::isnan(value)) return;
  const auto bits = std::bit_cast<std::uint64_t>(value + 0.0);
  Text& t = texts_[column * Slots + ((bits * 0x9e3779b97f4a7c15ULL) >> 58)];
  if (t.length == 0 || t.bits != bits) {
    const auto [end, ec] = std::to_chars(t.text, t.text + sizeof t.text, value + 0.0);
    t.length = ec == std::errc() ? std::size_t(end - t.text) : 0;
    t.bits = bits;
  }
  out.append(t.text, t.length);
}

void RowWriter::Append(std::string& out, const World& world, const StepMeasures& measures) {
  source_.world = &world;
  source_.measures = &measures;
  const std::vector<Column>& columns = Columns();
  out += prefix_;
  for (std::size_t k = firstStepColumn_; k < columns.size(); ++k) {
    if (k > firstStepColumn_) out += ',';
    const Column& column = columns[k];
    const ColumnValue value = column.read(source_);
    if (column.recurs) {
      AppendRecurring(out, k, value.real);
    } else {
      AppendValue(out, column.kind, value);
    }
  }
  out += LineEnd;
}

}  // namespace zelmora::batch
