#include "sweep/Merge.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>

#include "sweep/Build.h"
#include "sweep/Columns.h"
#include "sweep/Manifest.h"
#include "sweep/Output.h"
#include "sweep/Record.h"

namespace zelmora::sweep {
namespace {

using Source = RequestError::Source;

struct Shard {
  std::string csv;
  Manifest manifest;
};

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

RequestError Refused(const std::string& reason) { return RequestError(Source::Field, "merge", "", reason); }

Shard ReadShard(const std::string& csv) {
  if (csv.size() < 5 || csv.compare(csv.size() - 4, 4, ".csv") != 0) {
    throw Refused(Quoted(csv) + " is not a shard's CSV; expects names ending in .csv");
  }
  const OutputPaths paths(csv);
  Shard shard{csv, ReadManifest("merge", paths.manifest)};
  const nlohmann::json& m = shard.manifest.header;
  if (m["status"] != "complete" || !std::filesystem::exists(csv)) {
    throw Refused("the shard " + Quoted(csv) + " is not complete (status " + m["status"].dump() +
                  "); finish it with resume first");
  }
  if (!shard.manifest.request.runs.Empty()) {
    throw Refused(Quoted(csv) + " is a replay of runs " + shard.manifest.request.runs.Text() +
                  " of a sweep, not a shard of one; merge joins the shards of one sweep");
  }
  if (m["build"] != BuildId()) {
    throw Refused("the shard " + Quoted(csv) + " was written by build " + m["build"].get<std::string>() +
                  ", this is build " + BuildId() + "; merge with the build that ran the sweep");
  }
  return shard;
}

// Every shard of one sweep, once; returned by shard index.
std::vector<Shard> CheckShards(const std::vector<std::string>& csvs) {
  std::map<std::int64_t, Shard> byIndex;
  std::optional<Shard> first;
  for (const std::string& csv : csvs) {
    Shard shard = ReadShard(csv);
    const Request& r = shard.manifest.request;
    if (!first) first = shard;
    const Request& f = first->manifest.request;
    const std::string against = " than " + Quoted(first->csv);
    if (const auto difference = FirstDifference(f, r)) {
      throw Refused(Quoted(csv) + " belongs to another sweep" + against + ": " +
                    DifferenceText(*difference, Quoted(first->csv), Quoted(csv)));
    }
    if (r.shardCount != f.shardCount) {
      throw Refused(Quoted(csv) + " is shard " + std::to_string(r.shardIndex) + "/" + std::to_string(r.shardCount) +
                    ", of another split" + against + " (of " + std::to_string(f.shardCount) + ")");
    }
    if (const auto difference = PicturesDifference(f.pictures, r.pictures)) {
      throw Refused(Quoted(csv) + " made other pictures" + against + ": " +
                    DifferenceText(*difference, Quoted(first->csv), Quoted(csv)));
    }
    const auto [at, fresh] = byIndex.emplace(r.shardIndex, std::move(shard));
    if (!fresh) {
      throw Refused(Quoted(csv) + " is shard " + std::to_string(r.shardIndex) + "/" + std::to_string(r.shardCount) +
                    " again (as " + Quoted(at->second.csv) + ")");
    }
  }
  const std::int64_t count = first->manifest.request.shardCount;
  for (std::int64_t index = 0; index < count; ++index) {
    if (!byIndex.count(index)) {
      throw Refused("shard " + std::to_string(index) + "/" + std::to_string(count) + " is missing (runs " +
                    std::to_string(index) + ", " + std::to_string(index + count) + ", ...); expects the CSV of every shard");
    }
  }
  std::vector<Shard> shards;
  for (auto& [index, shard] : byIndex) shards.push_back(std::move(shard));
  return shards;
}

// The CSV in run order, each run's rows taken whole from its shard, and the journal's lines alike.
void WriteRows(const std::vector<Shard>& shards, const OutputPaths& out, std::ostream& err) {
  const Request& request = shards.front().manifest.request;
  const std::uint64_t seed = *request.seed;
  const RunLength length{request.steps, request.recordEvery, request.quietSteps};
  const std::int64_t size = SweepSize(request);
  const std::string header = CsvHeader(request.means, request.measures);
  std::vector<std::unique_ptr<std::ifstream>> rows, lines;
  // By shard: journal lines read, lines rewritten, the first of them named.
  std::vector<std::int64_t> lineNumbers(shards.size()), rewritten(shards.size());
  std::vector<std::string> firstFault(shards.size());
  for (const Shard& shard : shards) {
    rows.push_back(std::make_unique<std::ifstream>(shard.csv, std::ios::binary));
    const std::string journal = OutputPaths(shard.csv).journal;
    lines.push_back(std::make_unique<std::ifstream>(journal, std::ios::binary));
    std::string line;
    if (!std::getline(*rows.back(), line) || line + "\n" != header) {
      throw Refused(Quoted(shard.csv) + " does not begin with this build's header");
    }
  }
  StreamedFile csv(out.csv), journal(out.journal);
  std::string text = header, journalText, line;
  const std::int64_t count = std::int64_t(shards.size());
  for (std::int64_t index = 0; index < size; ++index) {
    const Shard& shard = shards[std::size_t(index % count)];
    const std::string prefix = RowPrefix({index, RunSeed(seed, index), {}});
    std::ifstream& stream = *rows[std::size_t(index % count)];
    std::optional<std::size_t> rowsPerRun = 1;  // until the first row tells
    for (std::size_t row = 0; row < *rowsPerRun; ++row) {
      if (!std::getline(stream, line) || stream.eof() || line.empty() || line.back() != '\r' ||
          line.rfind(prefix, 0) != 0 || (row == 0 && !(rowsPerRun = length.RowsOf(line)))) {
        throw Refused("run " + std::to_string(index) + " is not whole in " + Quoted(shard.csv));
      }
      text += line;
      text += '\n';
    }
    // The shard's journal line for its run, checked: where it is missing or damaged the run's
    // rows, whole in the shard's CSV, prove the line without times.
    const std::size_t k = std::size_t(index % count);
    std::ifstream& journalIn = *lines[k];
    const RunPlan run{index, RunSeed(seed, index), {}};
    ++lineNumbers[k];
    const bool read = std::getline(journalIn, line) && !journalIn.eof();
    const auto fault = read ? JournalLineFault(line, run) : std::optional<std::string>("is missing");
    if (fault) {
      if (rewritten[k]++ == 0) firstFault[k] = "line " + std::to_string(lineNumbers[k]) + " " + *fault;
      journalText += JournalLine(run, "", "");
    } else {
      journalText += line + "\n";
    }
    if (text.size() >= (std::size_t(1) << 16)) csv.Write(text);
    if (journalText.size() >= (std::size_t(1) << 16)) journal.Write(journalText);
  }
  for (std::size_t k = 0; k < shards.size(); ++k) {
    if (rows[k]->peek() != std::char_traits<char>::eof()) throw Refused(Quoted(shards[k].csv) + " holds rows beyond its runs");
    // A line past the shard's runs names a run its CSV does not hold: nothing proves it.
    if (std::getline(*lines[k], line)) {
      throw Refused(Quoted(OutputPaths(shards[k].csv).journal) + " line " + std::to_string(lineNumbers[k] + 1) +
                    " names no run of the shard " + Quoted(shards[k].csv) + ", which holds " +
                    std::to_string(lineNumbers[k]) + " runs; mend or remove the line");
    }
  }
  for (std::size_t k = 0; k < shards.size(); ++k) {
    if (rewritten[k] == 0) continue;
    err << "zelmora-batch: merge: " << OutputPaths(shards[k].csv).journal << ": " << firstFault[k] << "; "
        << rewritten[k] << (rewritten[k] == 1 ? " line" : " lines") << " rewritten from its CSV, without times\n";
  }
  csv.Write(text);
  journal.Write(journalText);
  journal.Finish();
  csv.Finish();
}

// The manifest of the unsharded sweep: the first shard's, as one shard of one.
nlohmann::json MergedManifest(const std::vector<Shard>& shards, const std::vector<std::string>& args,
                              const OutputPaths& out) {
  nlohmann::json m = shards.front().manifest.header;
  Request request = shards.front().manifest.request;
  request.shardIndex = 0;
  request.shardCount = 1;
  request.out = out.csv;
  nlohmann::json from = nlohmann::json::array();
  std::string started = m["started"], finished = m["finished"].is_string() ? m["finished"].get<std::string>() : "";
  for (const Shard& shard : shards) {
    started = std::min(started, shard.manifest.header["started"].get<std::string>());
    if (shard.manifest.header["finished"].is_string()) {
      finished = std::max(finished, shard.manifest.header["finished"].get<std::string>());
    }
    from.push_back({{"csv", PathJson(shard.csv)}, {"command_line", shard.manifest.header["command_line"]}});
  }
  std::vector<std::string> command = {"zelmora-batch", "merge"};
  command.insert(command.end(), args.begin(), args.end());
  m["command_line"] = CommandLineJson(command);
  m["merged_from"] = from;
  m["started"] = started;
  m["finished"] = finished;
  m["request"] = RequestJson(request, *request.seed);
  m["request_hash"] = RequestHash(m["request"]["sweep"], BuildId());
  m["journal"] = PathJson(std::filesystem::path(out.journal).filename().string());
  m["master_seed"] = *request.seed;
  m["runs_in_shard"] = SweepSize(request);
  m["completed_runs"] = SweepSize(request);
  m["status"] = "complete";
  m.erase("resumed");
  return m;
}

}  // namespace

void MergeShards(const std::vector<std::string>& args, std::ostream& err) {
  if (args.size() < 2) throw Refused("expects OUT.csv and the shards' CSVs: merge OUT.csv SHARD.csv...");
  const std::string& out = args.front();
  if (out.size() < 5 || out.compare(out.size() - 4, 4, ".csv") != 0) {
    throw RequestError(Source::Field, "merge", out, "OUT.csv, a name ending in .csv");
  }
  const OutputPaths paths(out);
  CheckFolder("merge", out);
  const OutputLock lock("merge", paths.lock);
  RemoveStaleTemporaries(paths);
  for (const std::string& existing : {paths.csv, paths.manifest, paths.partial, paths.journal}) {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(existing, ec))) {
      throw Refused(Quoted(existing) + " exists; expects a new OUT.csv");
    }
  }
  const std::vector<Shard> shards = CheckShards({args.begin() + 1, args.end()});
  const nlohmann::json manifest = MergedManifest(shards, args, paths);
  WriteRows(shards, paths, err);
  try {
    std::string text = manifest.dump(1);
    text += '\n';
    WriteWhole(paths.manifest, text);
  } catch (...) {
    std::filesystem::remove(paths.csv);
    std::filesystem::remove(paths.journal);
    throw;
  }
}

}  // namespace zelmora::sweep
