#include "batch/Manifest.h"

#include "batch/Build.h"

namespace zelmora::batch {
namespace {

nlohmann::json ParametersJson(const Parameters& p) {
  return {{"threshold", p.threshold},           {"production_costs", p.productionCosts},
          {"travel_expenses", p.travelExpenses}, {"returns_to_scale", p.returnsToScale},
          {"segregation", p.segregation},       {"centers", p.centers},
          {"agents", p.agents}};
}

// A definition's value as the option would spell it.
std::string Spelled(const std::string& field, const nlohmann::json& value) {
  if ((field == "grid" || field == "shard") && value.is_array() && value.size() == 2) {
    return value[0].dump() + (field == "grid" ? "x" : "/") + value[1].dump();
  }
  if (value.is_boolean()) return value.get<bool>() ? "on" : "off";
  if (value.is_string()) return value.get<std::string>();
  return value.dump();
}

std::string OptionOf(const std::string& field) {
  if (field == "master_seed") return "--seed";
  if (field == "size") return "--set/--repeats (runs in the sweep)";
  std::string option = "--" + field;
  for (char& c : option) c = c == '_' ? '-' : c;
  return option;
}

}  // namespace

nlohmann::json SweepDefinition(const Options& options, std::uint64_t masterSeed, const std::vector<RunPlan>& runs) {
  nlohmann::json list = nlohmann::json::array();
  for (const RunPlan& run : runs) {
    list.push_back({{"run", run.index}, {"seed", run.seed}, {"parameters", ParametersJson(run.parameters)}});
  }
  return {{"master_seed", masterSeed},
          {"grid", {options.cols, options.rows}},
          {"steps", options.steps},
          {"record_every", options.recordEvery},
          {"shard", {options.shardIndex, options.shardCount}},
          {"size", SweepSize(options)},
          {"runs", std::move(list)}};
}

nlohmann::json PicturesDefinition(const Options& options) {
  return {{"charts", options.windowChart ? "window" : options.charts ? "on" : "off"},
          {"snapshot_at", options.snapshotAt}};
}

std::optional<std::string> SweepDifference(const nlohmann::json& kept, const nlohmann::json& given) {
  for (const char* field : {"master_seed", "grid", "steps", "record_every", "shard", "size"}) {
    if (kept.value(field, nlohmann::json()) != given.value(field, nlohmann::json())) {
      return OptionOf(field) + ": the sweep has " + Spelled(field, kept.value(field, nlohmann::json())) +
             ", the command " + Spelled(field, given.value(field, nlohmann::json()));
    }
  }
  const nlohmann::json& a = kept["runs"];
  const nlohmann::json& b = given["runs"];
  for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k) {
    for (const auto& [name, value] : b[k]["parameters"].items()) {
      const nlohmann::json old = a[k]["parameters"].value(name, nlohmann::json());
      if (old != value) {
        return OptionOf(name) + " (or --set " + OptionOf(name).substr(2) + "): run " + b[k]["run"].dump() +
               " has " + Spelled(name, old) + " in the sweep, " + Spelled(name, value) + " in the command";
      }
    }
  }
  if (a != b) return std::string("--set: the sweep's runs differ from the command's");
  return std::nullopt;
}

void CheckSameSweep(const std::string& option, const std::string& path, const nlohmann::json& manifest,
                    const nlohmann::json& sweep, const nlohmann::json& pictures) {
  const std::string build = manifest["build"];
  if (build != BuildId()) {
    throw UsageError(option + ": '" + path + "' was written by build " + build + ", this is build " + BuildId() +
                     "; the same bytes are promised only by the same build");
  }
  if (const auto difference = SweepDifference(manifest["sweep"], sweep)) {
    throw UsageError(option + ": the options describe another sweep than '" + path + "': " + *difference);
  }
  if (manifest["pictures"] != pictures) {
    const nlohmann::json& kept = manifest["pictures"];
    const bool charts = kept["charts"] != pictures["charts"];
    throw UsageError(option + ": " + (charts ? "--charts" : "--snapshot-at") + ": the sweep has " +
                     Spelled("", kept[charts ? "charts" : "snapshot_at"]) + ", the command " +
                     Spelled("", pictures[charts ? "charts" : "snapshot_at"]) +
                     "; a resume makes the pictures of the sweep it finishes, so every run has the same");
  }
}

}  // namespace zelmora::batch
