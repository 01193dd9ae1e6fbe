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

std::string CsvHeader() {
  std::string header =
      "run,seed,grid_cols,grid_rows,agents,threshold,production_costs,travel_expenses,"
      "returns_to_scale,segregation,centers,step,satisfied,unsatisfied,moved,yellow_customers,"
      "yellow_bid_price";
  for (int m = 0; m < MarketCount; ++m) {
    header += ",market" + std::to_string(m) + "_customers,market" + std::to_string(m) + "_unit_cost";
  }
  header += ",mean_local_price,herfindahl,percent_similar,cluster_count,mean_cluster_size";
  return header + LineEnd;
}

void AppendNumber(std::string& out, double value) {
  if (std::isnan(value)) return;
  AppendChars(out, value);
}

void AppendNumber(std::string& out, std::int64_t value) { AppendChars(out, value); }
void AppendNumber(std::string& out, std::uint64_t value) { AppendChars(out, value); }

RowWriter::RowWriter(const RunPlan& run, std::int32_t cols, std::int32_t rows) : costs_(1024) {
  const Parameters& p = run.parameters;
  const auto field = [this](auto value) {
    AppendNumber(prefix_, value);
    prefix_ += ',';
  };
  field(run.index);
  field(run.seed);
  field(std::int64_t(cols));
  field(std::int64_t(rows));
  field(p.agents);
  field(std::int64_t(p.threshold));
  field(p.productionCosts);
  field(p.travelExpenses);
  field(p.returnsToScale);
  field(std::int64_t(p.segregation));
  field(std::int64_t(p.centers));
}

const RowWriter::Cost& RowWriter::Format(std::int32_t customers, double value) {
  Cost& cost = costs_[std::uint32_t(customers) % costs_.size()];
  if (cost.length == 0 || std::bit_cast<std::uint64_t>(cost.value) != std::bit_cast<std::uint64_t>(value)) {
    const auto [end, ec] = std::to_chars(cost.text, cost.text + sizeof cost.text, value);
    cost.length = ec == std::errc() ? std::size_t(end - cost.text) : 0;
    cost.value = value;
  }
  return cost;
}

void RowWriter::Append(std::string& out, const World& world, const StepMeasures& measures) {
  const bool priced = world.StepCount > 0;
  const auto market = [&](int m) -> const TCell& {
    return world.grid.At(world.Markets[m].col, world.Markets[m].row);
  };
  const auto field = [&out](auto value) {
    out += ',';
    AppendNumber(out, value);
  };
  const auto cost = [&](int m) {
    out += ',';
    if (!priced) return;
    const Cost& c = Format(market(m).customers, market(m).unitCost);
    out.append(c.text, c.length);
  };
  out += prefix_;
  AppendNumber(out, std::int64_t(world.StepCount));
  field(measures.satisfied);
  field(measures.unsatisfied);
  field(std::int64_t(world.MovedCount));
  field(std::int64_t(market(YellowMarket).customers));
  cost(YellowMarket);
  for (int m = 0; m < MarketCount; ++m) {
    field(std::int64_t(market(m).customers));
    cost(m);
  }
  field(priced ? measures.meanLocalPrice : std::nan(""));
  field(measures.herfindahl);
  field(measures.percentSimilar);
  field(measures.clusterCount);
  field(measures.meanClusterSize);
  out += LineEnd;
}

}  // namespace zelmora::batch
