#include "sweep/Merge.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "sweep/Build.h"
#include "sweep/Columns.h"
#include "sweep/Manifest.h"
#include "sweep/Output.h"
#include "sweep/Record.h"

namespace zelmora::batch {
namespace {

struct Shard {
  std::string csv;
  nlohmann::json manifest;
  std::int64_t index = 0, count = 1;
};

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The sweep as the shards share it: everything but the shard and its runs.
nlohmann::json Shared(const nlohmann::json& sweep) {
  nlohmann::json shared = sweep;
  shared["shard"] = nlohmann::json::array({0, 1});
  shared["runs"] = nlohmann::json::array();
  return shared;
}

Shard ReadShard(const std::string& csv) {
  if (csv.size() < 5 || csv.compare(csv.size() - 4, 4, ".csv") != 0) {
    throw UsageError("merge: " + Quoted(csv) + " is not a shard's CSV; expects names ending in .csv");
  }
  const OutputPaths paths(csv);
  Shard shard{csv, ReadManifest("merge", paths.manifest)};
  const nlohmann::json& m = shard.manifest;
  if (m["status"] != "complete" || !std::filesystem::exists(csv)) {
    throw UsageError("merge: the shard " + Quoted(csv) + " is not complete (status " + m["status"].dump() +
                     "); finish it with --resume first");
  }
  if (m["build"] != BuildId()) {
    throw UsageError("merge: the shard " + Quoted(csv) + " was written by build " + m["build"].get<std::string>() +
                     ", this is build " + BuildId() + "; merge with the build that ran the sweep");
  }
  shard.index = m["sweep"]["shard"][0].get<std::int64_t>();
  shard.count = m["sweep"]["shard"][1].get<std::int64_t>();
  return shard;
}

// Every shard of one sweep, once; returned by shard index.
std::vector<Shard> CheckShards(const std::vector<std::string>& csvs) {
  std::map<std::int64_t, Shard> byIndex;
  const Shard* first = nullptr;
  std::vector<Shard> read;
  read.reserve(csvs.size());
  for (const std::string& csv : csvs) {
    read.push_back(ReadShard(csv));
    Shard& shard = read.back();
    if (!first) first = &read.front();
    const std::string against = " than " + Quoted(first->csv);
    if (auto difference = SweepDifference(Shared(first->manifest["sweep"]), Shared(shard.manifest["sweep"]))) {
      throw UsageError("merge: " + Quoted(csv) + " belongs to another sweep" + against + ": " + *difference);
    }
    if (shard.count != first->count) {
      throw UsageError("merge: " + Quoted(csv) + " is shard " + std::to_string(shard.index) + "/" +
                       std::to_string(shard.count) + ", of another split" + against + " (of " +
                       std::to_string(first->count) + ")");
    }
    if (shard.manifest["pictures"] != first->manifest["pictures"]) {
      throw UsageError("merge: " + Quoted(csv) + " made other pictures (--charts, --snapshot-at)" + against);
    }
    const auto [at, fresh] = byIndex.emplace(shard.index, shard);
    if (!fresh) {
      throw UsageError("merge: " + Quoted(csv) + " is shard " + std::to_string(shard.index) + "/" +
                       std::to_string(shard.count) + " again (as " + Quoted(at->second.csv) + ")");
    }
  }
  const std::int64_t size = first->manifest["sweep"]["size"].get<std::int64_t>();
  for (std::int64_t index = 0; index < first->count; ++index) {
    if (!byIndex.count(index)) {
      throw UsageError("merge: shard " + std::to_string(index) + "/" + std::to_string(first->count) +
                       " is missing (" + (csvs.empty() ? "" : "runs " + std::to_string(index) + ", " +
                                                                 std::to_string(index + first->count) + ", ...") +
                       "); expects the CSV of every shard");
    }
    // Every run of the shard, once, in order.
    const nlohmann::json& runs = byIndex[index].manifest["sweep"]["runs"];
    std::int64_t expected = index;
    for (const nlohmann::json& run : runs) {
      if (run["run"].get<std::int64_t>() != expected) break;
      expected += first->count;
    }
    if (expected < size || std::int64_t(runs.size()) != (size - index + first->count - 1) / first->count) {
      throw UsageError("merge: the manifest of " + Quoted(byIndex[index].csv) + " does not list the runs of shard " +
                       std::to_string(index) + "/" + std::to_string(first->count));
    }
  }
  std::vector<Shard> shards;
  for (auto& [index, shard] : byIndex) shards.push_back(std::move(shard));
  return shards;
}

// The CSV in run order, each run's rows taken whole from its shard.
void WriteRows(const std::vector<Shard>& shards, const std::string& out) {
  const nlohmann::json& sweep = shards.front().manifest["sweep"];
  const RunLength length = LengthOf(sweep);
  const std::int64_t size = sweep["size"].get<std::int64_t>();
  const std::string header = CsvHeader();
  std::vector<std::unique_ptr<std::ifstream>> in;
  for (const Shard& shard : shards) {
    in.push_back(std::make_unique<std::ifstream>(shard.csv, std::ios::binary));
    std::string line;
    if (!std::getline(*in.back(), line) || line + "\n" != header) {
      throw UsageError("merge: " + Quoted(shard.csv) + " does not begin with this build's header");
    }
  }
  StreamedFile file(out);
  std::string text = header, line;
  const std::int64_t count = std::int64_t(shards.size());
  for (std::int64_t index = 0; index < size; ++index) {
    const Shard& shard = shards[std::size_t(index % count)];
    const nlohmann::json& entry = shard.manifest["sweep"]["runs"][std::size_t(index / count)];
    const std::string prefix = RowPrefix({index, entry["seed"].get<std::uint64_t>(), {}});
    std::ifstream& stream = *in[std::size_t(index % count)];
    std::optional<std::size_t> rowsPerRun = 1;  // until the first row tells
    for (std::size_t row = 0; row < *rowsPerRun; ++row) {
      if (!std::getline(stream, line) || stream.eof() || line.empty() || line.back() != '\r' ||
          line.rfind(prefix, 0) != 0 || (row == 0 && !(rowsPerRun = length.RowsOf(line)))) {
        throw UsageError("merge: run " + std::to_string(index) + " is not whole in " + Quoted(shard.csv));
      }
      text += line;
      text += '\n';
    }
    if (text.size() >= (std::size_t(1) << 16)) file.Write(text);
  }
  for (std::size_t k = 0; k < shards.size(); ++k) {
    if (in[k]->peek() != std::char_traits<char>::eof()) {
      throw UsageError("merge: " + Quoted(shards[k].csv) + " holds rows beyond its runs");
    }
  }
  file.Write(text);
  file.Finish();
}

// The manifest of the unsharded sweep: the first shard's, with every shard's runs and times.
nlohmann::json MergedManifest(const std::vector<Shard>& shards, const std::vector<std::string>& args) {
  nlohmann::json m = shards.front().manifest;
  nlohmann::json runs = nlohmann::json::array(), times = nlohmann::json::object(), from = nlohmann::json::array();
  const std::int64_t size = m["sweep"]["size"].get<std::int64_t>();
  for (std::int64_t index = 0; index < size; ++index) {
    runs.push_back(shards[std::size_t(index) % shards.size()].manifest["sweep"]["runs"][std::size_t(index) / shards.size()]);
  }
  std::string started = m["started"], finished = m["finished"].is_string() ? m["finished"].get<std::string>() : "";
  for (const Shard& shard : shards) {
    for (const auto& [run, t] : shard.manifest["run_times"].items()) times[run] = t;
    started = std::min(started, shard.manifest["started"].get<std::string>());
    if (shard.manifest["finished"].is_string()) finished = std::max(finished, shard.manifest["finished"].get<std::string>());
    from.push_back({{"csv", shard.csv}, {"command_line", shard.manifest["command_line"]}});
  }
  nlohmann::json command = {"zelmora-batch", "merge"};
  for (const std::string& arg : args) command.push_back(arg);
  m["command_line"] = command;
  m["merged_from"] = from;
  m["started"] = started;
  m["finished"] = finished;
  m["run_times"] = times;
  m["sweep"]["shard"] = nlohmann::json::array({0, 1});
  m["sweep"]["runs"] = runs;
  m["runs_in_shard"] = size;
  m["completed_runs"] = size;
  m["status"] = "complete";
  m.erase("resumed");
  return m;
}

}  // namespace

void MergeShards(const std::vector<std::string>& args) {
  if (args.size() < 2) throw UsageError("merge: expects OUT.csv and the shards' CSVs: merge OUT.csv SHARD.csv...");
  const std::string& out = args.front();
  if (out.size() < 5 || out.compare(out.size() - 4, 4, ".csv") != 0) {
    throw UsageError("merge: expects OUT.csv, a name ending in .csv; got '" + out + "'");
  }
  const OutputPaths paths(out);
  CheckFolder("merge", out);
  const OutputLock lock("merge", paths.lock);
  for (const std::string& existing : {paths.csv, paths.manifest, paths.partial}) {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(existing, ec))) {
      throw UsageError("merge: " + Quoted(existing) + " exists; expects a new OUT.csv");
    }
  }
  const std::vector<Shard> shards = CheckShards({args.begin() + 1, args.end()});
  WriteRows(shards, paths.csv);
  try {
    WriteWhole(paths.manifest, MergedManifest(shards, args).dump(1) + "\n");
  } catch (...) {
    std::filesystem::remove(paths.csv);
    throw;
  }
}

}  // namespace zelmora::batch
