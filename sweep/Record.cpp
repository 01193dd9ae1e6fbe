#include "sweep/Record.h"

#include <bit>
#include <charconv>
#include <string_view>
#include <cmath>

#include "simulation/Measures.h"
#include "simulation/World.h"

namespace zelmora::sweep {
namespace {

template <typename T>
void AppendChars(std::string& out, T value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, ec == std::errc() ? end : buffer);
}

// The field at `column` of a row (its line end, if there, left off).
std::string_view FieldAt(std::string_view row, std::size_t column) {
  std::size_t start = 0;
  for (std::size_t k = 0; k < column && start != std::string_view::npos; ++k) {
    const std::size_t comma = row.find(',', start);
    start = comma == std::string_view::npos ? comma : comma + 1;
  }
  if (start == std::string_view::npos) return {};
  std::string_view field = row.substr(start, row.find_first_of(",\r\n", start) - start);
  return field;
}

}  // namespace

void FillStopStep(std::string& rows, std::int32_t stopStep) {
  static const std::size_t column = ColumnIndex("stop_step");
  const std::string text = std::to_string(stopStep);
  std::string filled;
  filled.reserve(rows.size() + rows.size() / 64 * text.size());
  std::size_t start = 0;
  while (start < rows.size()) {
    std::size_t end = rows.find('\n', start);
    end = end == std::string::npos ? rows.size() : end + 1;
    const std::string_view row(rows.data() + start, end - start);
    const std::string_view field = FieldAt(row, column);
    const std::size_t at = field.data() ? std::size_t(field.data() - row.data()) : row.size();
    filled.append(row.substr(0, at));
    if (field.data()) filled += text;
    filled.append(row.substr(at));
    start = end;
  }
  rows.swap(filled);
}

std::optional<std::size_t> RunLength::RowsOf(std::string_view firstRow) const {
  static const std::size_t column = ColumnIndex("stop_step");
  const std::string_view field = FieldAt(firstRow, column);
  if (field.empty()) return RecordedCount(steps, recordEvery);
  std::int32_t stop = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), stop);
  if (quietSteps == 0 || ec != std::errc() || end != field.data() + field.size() || stop < 1 ||
      stop > steps - (quietSteps - 1)) {
    return std::nullopt;
  }
  return RecordedCount(stop + (quietSteps - 1), recordEvery);
}

void AppendNumber(std::string& out, double value) {
  if (std::isnan(value)) return;
  AppendChars(out, value + 0.0);  // -0 + 0 is +0
}

void AppendNumber(std::string& out, std::int64_t value) { AppendChars(out, value); }
void AppendNumber(std::string& out, std::uint64_t value) { AppendChars(out, value); }

void AppendValue(std::string& out, ColumnKind kind, const ColumnValue& value) {
  if (value.missing) return;
  if (kind == ColumnKind::Text) {
    out += value.text;
  } else if (kind == ColumnKind::Real) {
    AppendNumber(out, value.real);
  } else {
    AppendNumber(out, value.integer);
  }
}

RowWriter::RowWriter(const RunPlan& run, bool means) : columns_(Columns(means)), texts_(columns_.size() * Slots) {
  const std::vector<Column>& columns = columns_;
  // The plan may not outlive the writer: what a row needs of it is formatted here.
  const RowSource runOnly{&run, nullptr, nullptr, nullptr, std::nullopt};
  while (firstStepColumn_ < columns.size() && columns[firstStepColumn_].perRun) {
    const Column& column = columns[firstStepColumn_++];
    AppendValue(prefix_, column.kind, column.Read(runOnly));
    prefix_ += ',';
  }
  runTexts_.resize(columns.size());
  for (std::size_t k = firstStepColumn_; k < columns.size(); ++k) {
    if (columns[k].perRun) AppendValue(runTexts_[k], columns[k].kind, columns[k].Read(runOnly));
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

void RowWriter::Append(std::string& out, const World& world, const StepMeasures& measures, const StepMeans* means,
                       std::span<const double> added) {
  source_.world = &world;
  source_.measures = &measures;
  source_.means = means;
  const std::vector<Column>& columns = columns_;
  out += prefix_;
  for (std::size_t k = firstStepColumn_; k < columns.size(); ++k) {
    if (k > firstStepColumn_) out += ',';
    const Column& column = columns[k];
    if (column.perRun) {
      out += runTexts_[k];
      continue;
    }
    const ColumnValue value = column.Read(source_);
    if (column.recurs) {
      AppendRecurring(out, k, value.real);
    } else {
      AppendValue(out, column.kind, value);
    }
  }
  for (const double value : added) {
    out += ',';
    AppendNumber(out, value);
  }
  out += LineEnd;
}

}  // namespace zelmora::sweep
