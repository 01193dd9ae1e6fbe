#include "sweep/Manifest.h"

#include <filesystem>
#include <fstream>

#include "sweep/Build.h"
#include "sweep/Output.h"

namespace zelmora::sweep {
namespace {

using json = nlohmann::json;
using Source = RequestError::Source;

// The first field of a header that is missing or not of its type, or nothing.
std::optional<std::string> HeaderFault(const json& m) {
  const auto is = [](const json& j, const std::string& type) {
    if (type == "a string") return j.is_string();
    if (type == "a whole number") return j.is_number_unsigned();
    if (type == "true or false") return j.is_boolean();
    if (type == "a list") return j.is_array();
    if (type == "an object") return j.is_object();
    return type == "a string or null" && (j.is_string() || j.is_null());
  };
  const std::pair<const char*, const char*> fields[] = {
      {"program", "a string"},         {"build", "a string"},          {"command_line", "a list"},
      {"jobs", "a whole number"},      {"started", "a string"},        {"finished", "a string or null"},
      {"status", "a string"},          {"request", "an object"},       {"request_hash", "a string"},
      {"master_seed", "a whole number"}, {"runs_in_shard", "a whole number"}};
  for (const auto& [field, type] : fields) {
    if (!m.contains(field) || !is(m[field], type)) return "field '" + std::string(field) + "' is missing or not " + type;
  }
  if (m.contains("resumed") && !m["resumed"].is_array()) return "field 'resumed' is not a list";
  return std::nullopt;
}

}  // namespace

json CommandLineJson(const std::vector<std::string>& args) {
  json command = json::array();
  for (const std::string& arg : args) command.push_back(PathJson(arg));
  return command;
}

json NewManifest(const Request& request, std::uint64_t masterSeed, bool seedDrawn, const std::string& program,
                 const std::string& journal) {
  json requestJson = RequestJson(request, masterSeed);
  const std::string hash = RequestHash(requestJson["sweep"], BuildId());
  json header = {{"format", ManifestFormat},
                 {"program", program},
                 {"build", BuildId()},
                 {"build_source", BuildSource()},
                 {"command_line", CommandLineJson(request.commandLine)},
                 {"jobs", request.jobs},
                 {"started", UtcNow()},
                 {"finished", nullptr},
                 {"status", "running"},
                 {"master_seed", masterSeed},
                 {"master_seed_drawn", seedDrawn},
                 {"request_hash", hash},
                 {"runs_in_shard", ShardSize(request)},
                 {"journal", PathJson(journal)}};
  header["request"] = std::move(requestJson);  // moved, not copied: it holds the design's points
  return header;
}

Manifest ReadManifest(const std::string& field, const std::string& path) {
  const auto damaged = [&](const std::string& what) {
    return RequestError(Source::Field, field, "", "the manifest '" + path + "' " + what);
  };
  std::ifstream in(path);
  json header;
  // A manifest nests a few levels; one nesting deeper is no manifest of ours, and rewriting it
  // (indented) would cost the square of its depth.
  struct TooDeep {};
  const json::parser_callback_t depth = [](int level, json::parse_event_t, json&) {
    if (level > MaxManifestDepth) throw TooDeep{};
    return true;
  };
  try {
    if (!in) throw std::runtime_error("missing");
    header = json::parse(in, depth);
  } catch (const TooDeep&) {
    throw damaged("is damaged: it nests lists or objects more than " + std::to_string(MaxManifestDepth) + " deep");
  } catch (const std::exception&) {
    throw damaged("is missing or not JSON, so the sweep is unknown");
  }
  if (!header.is_object()) throw damaged("is not a JSON object");
  const json format = header.value("format", json());
  if (format != ManifestFormat) {
    const std::string named = format.is_string() ? "format " + format.get<std::string>() : "format 1 (it names none)";
    const std::string build = header.value("build", json()).is_string() ? header["build"].get<std::string>() : "unknown";
    throw damaged("is of " + named + ", written by build " + build + "; this build reads format " + ManifestFormat +
                  " only: finish that sweep with the build that wrote it, or run it again with {force}");
  }
  if (const auto fault = HeaderFault(header)) throw damaged("is damaged: " + *fault);
  Manifest manifest;
  try {
    manifest.request = RequestFromJson(header["request"]);
  } catch (const DamagedJson& e) {
    throw damaged("is damaged: " + std::string(e.what()));
  }
  if (RequestHash(header["request"]["sweep"], header["build"].get<std::string>()) != header["request_hash"]) {
    throw damaged("is damaged: its request does not match its request_hash");
  }
  manifest.header = std::move(header);
  return manifest;
}

std::string DifferenceText(const Difference& d, const std::string& kept, const std::string& given) {
  if (d.run) {
    return d.name + ": run " + std::to_string(*d.run) + " has " + d.kept + " in " + kept + ", " + d.given + " in " + given;
  }
  return d.name + ": " + kept + " has " + d.kept + ", " + given + " " + d.given;
}

void CheckSameSweep(const std::string& path, const Manifest& kept, const Request& given) {
  const std::string build = kept.header["build"];
  if (build != BuildId()) {
    throw RequestError(Source::Field, "resume", "",
                       "'" + path + "' was written by build " + build + ", this is build " + BuildId() +
                           "; the same bytes are promised only by the same build");
  }
  const std::string sweep = "the sweep in '" + path + "'";
  if (const auto d = FirstDifference(kept.request, given)) {
    if (d->run) {
      throw RequestError(Source::Parameter, d->name, "",
                         "run " + std::to_string(*d->run) + " has " + d->kept + " in " + sweep + ", " + d->given +
                             " in the command");
    }
    if (d->name == "replay") {
      throw RequestError(Source::Field, "runs", "",
                         sweep + " has " + d->kept + ", the command " + d->given +
                             "; a replay is resumed by the command that began it");
    }
    const std::string name = d->name == "runs" ? "repeats" : d->name;
    throw RequestError(Source::Field, name, "",
                       sweep + " has " + d->kept + (d->name == "runs" ? " runs" : "") + ", the command " + d->given +
                           (d->name == "runs" ? " (design points x lists x repeats)" : ""));
  }
  if (kept.request.shardIndex != given.shardIndex || kept.request.shardCount != given.shardCount) {
    throw RequestError(Source::Field, "shard", "",
                       sweep + " is shard " + std::to_string(kept.request.shardIndex) + "/" +
                           std::to_string(kept.request.shardCount) + ", the command " +
                           std::to_string(given.shardIndex) + "/" + std::to_string(given.shardCount));
  }
  if (const auto d = PicturesDifference(kept.request.pictures, given.pictures)) {
    throw RequestError(Source::Field, d->name, "",
                       sweep + " has " + d->kept + ", the command " + d->given +
                           "; a resume makes the pictures of the sweep it finishes, so every run has the same");
  }
}

std::string JournalLine(const RunPlan& run, const std::string& started, const std::string& finished) {
  const auto time = [](const std::string& t) { return t.empty() ? std::string("null") : "\"" + t + "\""; };
  return "{\"run\":" + std::to_string(run.index) + ",\"seed\":" + std::to_string(run.seed) + ",\"started\":" +
         time(started) + ",\"finished\":" + time(finished) + "}\n";
}

std::optional<std::string> JournalLineFault(std::string_view line, const RunPlan& run) {
  const json j = json::parse(line, nullptr, false);
  if (!j.is_object()) return std::string("is no JSON object");
  for (const char* field : {"run", "seed", "started", "finished"}) {
    if (!j.contains(field)) return "lacks '" + std::string(field) + "'";
  }
  for (const auto& [field, value] : j.items()) {
    if (field != "run" && field != "seed" && field != "started" && field != "finished") {
      return "has '" + field + "', a field of no journal line";
    }
  }
  const std::string wanted = "run " + std::to_string(run.index);
  if (!j["run"].is_number_unsigned() || j["run"].get<std::uint64_t>() != std::uint64_t(run.index)) {
    return "names run " + j["run"].dump() + ", not " + wanted;
  }
  if (!j["seed"].is_number_unsigned() || j["seed"].get<std::uint64_t>() != run.seed) {
    return "gives " + wanted + " seed " + j["seed"].dump() + ", not " + std::to_string(run.seed);
  }
  for (const char* time : {"started", "finished"}) {
    if (!j[time].is_string() && !j[time].is_null()) return "has '" + std::string(time) + "' neither a time nor null";
  }
  return std::nullopt;
}

MendedJournal MendJournal(const std::string& path, std::int64_t keep, const std::function<RunPlan(std::int64_t)>& runAt) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (fs::is_symlink(status) || (fs::exists(status) && !fs::is_regular_file(status))) {
    throw IoError(path, std::string("is ") + (fs::is_symlink(status) ? "a link" : "not a file") +
                            ", where this program keeps the sweep's journal; remove it");
  }
  const auto open = [&] {
    std::ifstream in(path, std::ios::binary);
    if (fs::exists(status) && !in) throw IoError(path, "cannot be read");
    return in;
  };
  constexpr std::size_t Piece = std::size_t(1) << 16;
  // The lines there (up to the kept runs), and which of them are damaged.
  MendedJournal mended;
  std::uint64_t whole = 0;  // bytes of the lines before the first damaged one
  std::int64_t present = 0;
  {
    std::ifstream in = open();
    for (std::string line; present < keep && std::getline(in, line) && !in.eof(); ++present) {
      if (const auto fault = JournalLineFault(line, runAt(present))) {
        if (mended.rewritten++ == 0) mended.firstFault = "line " + std::to_string(present + 1) + " " + *fault;
      } else if (mended.rewritten == 0) {
        whole += line.size() + 1;
      }
    }
  }
  if (mended.rewritten == 0) {
    // Every line there is its run's: cut back to them, the lines it lacks (a failed append's)
    // added without times.
    PartialFile journal(path, "", whole);
    mended.size = whole;
    std::string text;
    for (std::int64_t k = present; k < keep; ++k) {
      text += JournalLine(runAt(k), "", "");
      if (text.size() < Piece && k + 1 < keep) continue;
      journal.Append(text);
      mended.size += text.size();
      text.clear();
    }
    return mended;
  }
  StreamedFile journal(path);
  std::ifstream in = open();
  std::string text, line;
  for (std::int64_t k = 0; k < keep; ++k) {
    const RunPlan run = runAt(k);
    if (k < present && std::getline(in, line) && !JournalLineFault(line, run)) {
      text += line + "\n";
    } else {
      text += JournalLine(run, "", "");
    }
    if (text.size() < Piece && k + 1 < keep) continue;
    mended.size += text.size();
    journal.Write(text);
  }
  journal.Finish();
  return mended;
}

}  // namespace zelmora::sweep
