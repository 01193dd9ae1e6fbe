#include "sweep/Manifest.h"

#include "sweep/Build.h"
#include "sweep/Design.h"

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

// A sweep's design for messages: its file and hash, or none.
std::string DesignSpelled(const nlohmann::json& sweep) {
  const nlohmann::json design = sweep.value("design", nlohmann::json());
  if (!design.is_object()) return "no design";
  return "the design '" + design.value("file", std::string()) + "' (hash " + design.value("hash", std::string()) + ")";
}

std::string OptionOf(const std::string& field) {
  if (field == "master_seed") return "--seed";
  if (field == "size") return "--design/--set/--repeats (runs in the sweep)";
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
  nlohmann::json design;
  if (options.design) {
    design = {{"file", options.design->file},
              {"hash", DesignHash(options.design->content)},
              {"content", options.design->content}};
  }
  return {{"master_seed", masterSeed},
          {"grid", {options.cols, options.rows}},
          {"steps", options.steps},
          {"until", options.untilSettled ? "settled" : "steps"},
          {"record_every", options.recordEvery},
          {"shard", {options.shardIndex, options.shardCount}},
          {"size", SweepSize(options)},
          {"design", std::move(design)},
          {"runs", std::move(list)}};
}

RunLength LengthOf(const nlohmann::json& sweep) {
  return {sweep["steps"].get<std::int32_t>(), sweep["record_every"].get<std::int32_t>(),
          sweep.value("until", std::string()) == "settled"};
}

nlohmann::json PicturesDefinition(const Options& options) {
  const char* video[] = {"off", "mp4", "gif"};
  return {{"charts", options.windowChart ? "window" : options.charts ? "on" : "off"},
          {"snapshot_at", options.snapshotAt},
          {"snapshot_every", options.snapshotEvery},
          {"video", video[int(options.video)]}};
}

std::optional<std::string> SweepDifference(const nlohmann::json& kept, const nlohmann::json& given) {
  for (const char* field : {"master_seed", "grid", "steps", "until", "record_every", "shard", "size"}) {
    if (kept.value(field, nlohmann::json()) != given.value(field, nlohmann::json())) {
      return OptionOf(field) + ": the sweep has " + Spelled(field, kept.value(field, nlohmann::json())) +
             ", the command " + Spelled(field, given.value(field, nlohmann::json()));
    }
  }
  if (DesignSpelled(kept) != DesignSpelled(given)) {
    const auto hash = [](const nlohmann::json& sweep) {
      return sweep.value("design", nlohmann::json()).is_object() ? sweep["design"].value("hash", std::string()) : "";
    };
    // The same content under another name is the same sweep.
    if (hash(kept) != hash(given)) {
      return "--design: the sweep has " + DesignSpelled(kept) + ", the command " + DesignSpelled(given);
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
  const nlohmann::json& kept = manifest["pictures"];
  for (const auto& [field, value] : pictures.items()) {
    const nlohmann::json old = kept.value(field, nlohmann::json());
    if (old == value) continue;
    throw UsageError(option + ": " + OptionOf(field) + ": the sweep has " + Spelled("", old) + ", the command " +
                     Spelled("", value) + "; a resume makes the pictures of the sweep it finishes, so every run has the same");
  }
}

}  // namespace zelmora::batch
