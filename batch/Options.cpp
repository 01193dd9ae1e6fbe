#include "batch/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <set>
#include <string_view>
#include <thread>

#include "sweep/Build.h"
#include "sweep/Design.h"
#include "sweep/Replay.h"
#include "sweep/RequestJson.h"

namespace zelmora::batch {
namespace {

using sweep::Parameters;
using sweep::ParameterCount;
using sweep::Request;
using sweep::RequestError;
using Source = RequestError::Source;

[[noreturn]] void Fail(const std::string& option, const std::string& accepts, const std::string& text) {
  throw UsageError(option + ": expects " + accepts + "; got '" + text + "'");
}

std::string Dashed(std::string_view name) {
  std::string dashed(name);
  std::replace(dashed.begin(), dashed.end(), '_', '-');
  return dashed;
}

// A request field read as a whole number of its type; its range is Validate's.
template <class T>
T FieldValue(const std::string& field, const std::string& text) {
  const auto value = sweep::WholeText<T>(text);
  if (!value) Fail("--" + Dashed(field), sweep::FieldExpects(field), text);
  return *value;
}

// Each option's text as given; empty: not given (an empty value is refused before).
struct Texts {
  std::array<std::string, ParameterCount> parameters;
  std::string grid, steps = "500", recordEvery = "1", seed, repeats = "1", jobs, shard = "0/1", snapshots,
              charts = "off", design, until = "steps", snapshotEvery, video = "off", progressEvery = "60", means = "off",
              from, runs;
  std::vector<std::string> sets;
  bool listParameters = false;
};

std::string KindName(const sweep::ParameterRow& row) {
  switch (row.kind) {
    case sweep::ParameterKind::Integer: return "N";
    case sweep::ParameterKind::Real: return "X";
    default: return std::string(sweep::RangeText(std::size_t(&row - Parameters)));
  }
}

void AddOptions(CLI::App& app, Texts& t, Request& request) {
  app.get_formatter()->column_width(34);
  app.add_option("--grid", t.grid, "the grid's columns and rows, each 10 to 100000 [default: 40x40]")
      ->type_name("COLSxROWS");
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    const sweep::ParameterRow& row = Parameters[k];
    app.add_option("--" + Dashed(row.name), t.parameters[k],
                   std::string(row.description) + "; " + sweep::Expects(k) + " [default: " + sweep::DefaultText(k) + "]")
        ->type_name(KindName(row));
  }
  app.add_option("--steps", t.steps, "steps per run, 0 to 1000000000")->type_name("N")->capture_default_str();
  app.add_option("--record-every", t.recordEvery, "record step 0, every K-th step and the last step; K at least 1")
      ->type_name("K")->capture_default_str();
  app.add_option("--seed", t.seed, "master seed, 0 to 2^64-1 [default: drawn and printed]")->type_name("S");
  app.add_option("--repeats", t.repeats, "runs per combination of parameters, 1 to 1000000000")
      ->type_name("R")->capture_default_str();
  app.add_option("--set", t.sets,
                 "vary a parameter (any of --parameters, with - or _): LIST is a,b,c or start:stop:step; several "
                 "--set give their cross product")
      ->type_name("NAME=LIST")->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--design", t.design,
                 "run the points of a CSV: a header of parameter names, one line of values per point; --set on "
                 "other parameters multiplies them, --repeats repeats each")
      ->type_name("FILE.csv");
  app.add_option("--until", t.until,
                 "steps: run --steps steps; settled: end a run at the first quiet step, after which no agent is "
                 "unsatisfied and none moved; settled:W at the W-th quiet step in a row (--steps stays the most)")
      ->type_name("steps|settled")->capture_default_str();
  app.add_option("--means", t.means,
                 "on: each row adds the mean of every per-step column (moves, customers, unit costs) over the "
                 "steps since the row before, as NAME_mean")
      ->type_name("on|off")->capture_default_str();
  app.add_option("--from", t.from,
                 "replay runs of the sweep whose manifest this is (a whole sweep's, a shard's or a merge's): its "
                 "parameters and seeds, this command's pictures and recording; with --runs")
      ->type_name("FILE.json");
  app.add_option("--runs", t.runs,
                 "the runs --from replays, by their index in the sweep: a list of runs and ranges first:last, e.g. "
                 "13,20,100:110")
      ->type_name("RUNS");
  app.add_option("--jobs", t.jobs, "worker threads, 1 to 1024 [default: every core]")->type_name("J");
  app.add_option("--shard", t.shard, "run only the runs whose index is I modulo N, 0 <= I < N")
      ->type_name("I/N")->capture_default_str();
  app.add_option("--out", request.out, "the CSV to write (name ending in .csv); the manifest is FILE.json beside it")
      ->type_name("FILE.csv");
  app.add_option("--snapshot-at", t.snapshots,
                 "PNGs of the grid after these steps (0 to --steps): 10 pixels per cell, or 1 pixel per cell "
                 "where 10 would make a side over 4000 pixels")
      ->type_name("S1,S2,...");
  app.add_option("--snapshot-every", t.snapshotEvery, "PNGs of the grid after every K-th step and the last")
      ->type_name("K");
  app.add_option("--video", t.video,
                 "a video of each run's grid through ffmpeg, a frame per recorded step (per K steps with "
                 "--snapshot-every K)")
      ->type_name("off|mp4|gif")->capture_default_str();
  app.add_option("--progress-every", t.progressEvery,
                 "seconds between progress lines when stderr is not a terminal (a job's log); 0: none")
      ->type_name("SECONDS")->capture_default_str();
  app.add_option("--charts", t.charts,
                 "PNGs of each run's market chart and segregation chart over the whole run; window: the market "
                 "chart as the window shows it after the last step")
      ->type_name("on|off|window")->capture_default_str();
  app.add_flag("--quiet", request.quiet, "no progress line");
  app.add_flag("--resume", request.resume, "run only the runs missing from FILE.csv.partial");
  app.add_flag("--force", request.force, "replace an existing output (not one another process writes)");
  app.add_flag("--parameters", t.listParameters,
               "print the parameters (name, kind, range, default, unit, description), one a line, tab-separated");
}

// CLI11's errors as one line naming the option.
[[noreturn]] void Rethrow(const CLI::ParseError& e) {
  const std::string message = e.what();
  // CLI11 names the option before a colon; say plainly what went wrong with it.
  const std::string option = message.substr(0, message.find(':'));
  if (message.find("At Most") != std::string::npos) {
    throw UsageError(option + ": given more than once; expects one value");
  }
  if (message.find("missing") != std::string::npos || message.find("required") != std::string::npos) {
    throw UsageError(option + ": needs a value (see --help)");
  }
  std::string line = message;
  std::replace(line.begin(), line.end(), '\n', ' ');
  throw UsageError(line + " (see --help)");
}

// A switch takes no value: "--force=1" would put a value into a resume hint that is then refused.
void RefuseSwitchValues(const CLI::App& app, int argc, const char* const* argv) {
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    const std::size_t equals = arg.find('=');
    if (arg.rfind("--", 0) != 0 || equals == std::string::npos) continue;
    const CLI::Option* option = app.get_option_no_throw(arg.substr(0, equals));
    if (option && option->get_expected_max() == 0) Fail(arg.substr(0, equals), "no value (it is a switch)", arg);
  }
}

// An empty value (an unset variable in a job script) is bad input, never "not given".
void RefuseEmptyValues(const CLI::App& app) {
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& value : option->results()) {
      if (value.empty() && option->get_expected_min() > 0) {
        Fail(option->get_name(), "a value (an empty one is not taken)", value);
      }
    }
  }
}

std::string ParameterNames() {
  std::string names;
  for (const sweep::ParameterRow& row : Parameters) names += (names.empty() ? "" : ", ") + Dashed(row.name);
  return names;
}

void ParseParameters(const Texts& t, Request& request) {
  constexpr std::size_t Cols = sweep::ParameterIndex("grid_cols"), Rows = sweep::ParameterIndex("grid_rows");
  if (!t.grid.empty()) {
    const std::size_t x = t.grid.find('x');
    const auto cols = x == std::string::npos ? std::nullopt : sweep::ParseValue(Cols, t.grid.substr(0, x));
    const auto rows = x == std::string::npos ? std::nullopt : sweep::ParseValue(Rows, t.grid.substr(x + 1));
    if (!cols || !rows) Fail("--grid", "COLSxROWS, each side from 10 to 100000", t.grid);
    for (const std::size_t side : {Cols, Rows}) {
      if (!t.parameters[side].empty()) {
        throw UsageError("--grid and --" + Dashed(Parameters[side].name) + " exclude each other; give one of them");
      }
    }
    request.base.Set(Cols, *cols);
    request.base.Set(Rows, *rows);
  }
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    if (t.parameters[k].empty()) continue;
    const auto value = sweep::ParseValue(k, t.parameters[k]);
    if (!value) Fail("--" + Dashed(Parameters[k].name), sweep::Expects(k), t.parameters[k]);
    request.base.Set(k, *value);
  }
  for (const std::string& set : t.sets) {
    const std::size_t equals = set.find('=');
    if (equals == std::string::npos || equals == 0) {
      Fail("--set", "NAME=LIST, e.g. returns-to-scale=0.9,1,1.1 or threshold=1:7:1", set);
    }
    const std::string name = set.substr(0, equals);
    const auto parameter = sweep::FindParameter(name);
    if (!parameter) throw UsageError("--set " + name + ": cannot vary '" + name + "'; names: " + ParameterNames());
    request.axes.push_back(sweep::ParseAxis(*parameter, std::string_view(set).substr(equals + 1)));
  }
}

void ParseDesign(const Texts& t, Request& request) {
  if (t.design.empty()) return;
  std::string content;
  try {
    content = sweep::ReadDesignFile(t.design);
  } catch (const RequestError&) {
    // A resume needs only the manifest, which holds the design.
    if (!request.resume) throw;
    request.design = sweep::Design{};
    request.design->file = t.design;
    request.design->fromManifest = true;
    return;
  }
  request.design = sweep::ParseDesign(t.design, content);
}

void ParseShard(const std::string& shard, Request& request) {
  const std::size_t slash = shard.find('/');
  const auto index = slash == std::string::npos ? std::nullopt : sweep::WholeText<std::int64_t>(shard.substr(0, slash));
  const auto total = slash == std::string::npos ? std::nullopt : sweep::WholeText<std::int64_t>(shard.substr(slash + 1));
  if (!index || !total) Fail("--shard", sweep::FieldExpects("shard"), shard);
  request.shardIndex = *index;
  request.shardCount = *total;
}

void ParsePictures(const Texts& t, Request& request) {
  sweep::Pictures& p = request.pictures;
  p.windowChart = t.charts == "window";
  if (!p.windowChart && t.charts != "on" && t.charts != "off") Fail("--charts", "on, off or window", t.charts);
  p.charts = t.charts != "off";
  if (!t.snapshots.empty()) {
    std::set<std::int32_t> at;
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = t.snapshots.find(',', start);
      const auto step = sweep::WholeText<std::int32_t>(std::string_view(t.snapshots).substr(start, comma - start));
      if (!step) Fail("--snapshot-at", "a list of steps from 0 to --steps (" + std::to_string(request.steps) + ")", t.snapshots);
      at.insert(*step);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    p.snapshotAt.assign(at.begin(), at.end());
  }
  if (!t.snapshotEvery.empty()) {
    p.snapshotEvery = FieldValue<std::int32_t>("snapshot_every", t.snapshotEvery);
    if (p.snapshotEvery < 1) Fail("--snapshot-every", sweep::FieldExpects("snapshot_every"), t.snapshotEvery);
  }
  const char* videos[] = {"off", "mp4", "gif"};
  const auto video = std::find(std::begin(videos), std::end(videos), t.video);
  if (video == std::end(videos)) Fail("--video", "off, mp4 or gif", t.video);
  p.video = sweep::Video(video - std::begin(videos));
}

// A replay takes the runs as the sweep made them: an option that would change them is refused.
void RefuseChangesOfTheRuns(const CLI::App& app, const Texts& t) {
  if (t.from.empty()) {
    throw UsageError("--runs: only with --from FILE.json, the manifest of the sweep whose runs it replays");
  }
  if (t.runs.empty()) throw UsageError("--runs: required with --from; expects the runs to replay, e.g. --runs 13,20");
  for (const CLI::Option* option : app.get_options()) {
    std::string field = option->get_name().substr(2);
    std::replace(field.begin(), field.end(), '-', '_');
    if (option->count() > 0 && !sweep::ReplayTakes(field)) {
      throw UsageError(option->get_name() + ": not with --from: a replay makes the runs as the sweep made them; "
                       "leave it out");
    }
  }
}

// --from FILE.json --runs LIST: the sweep's runs with this command's outputs, pictures and threads,
// and its steps, recording and means where given.
Request ReplayOf(const CLI::App& app, const Texts& t, const Request& command) {
  sweep::ReplayAsked asked;
  asked.manifest = t.from;
  const auto runs = sweep::ParseRuns(t.runs);
  if (!runs) {
    Fail("--runs", "runs and ranges first:last of runs from 0 to " + std::to_string(sweep::RunSelection::MaxRun) +
                       ", e.g. 13,20,100:110",
         t.runs);
  }
  asked.runs = *runs;
  if (app.count("--steps") > 0) asked.steps = command.steps;
  if (app.count("--record-every") > 0) asked.recordEvery = command.recordEvery;
  if (app.count("--means") > 0) asked.means = command.means;
  return sweep::ReplayRequest(asked, command);
}

std::string NamedPlace(Source source, const std::string& name, std::int64_t row, std::int64_t column,
                       const std::string& designFile) {
  switch (source) {
    case Source::Field:
      if (name == "measures") return std::string("measures written in Python");  // no option gives them
      return name == "merge" ? name : "--" + Dashed(name);
    case Source::Parameter:
      return "--" + Dashed(name);
    case Source::Set:
      return "--set " + Dashed(name);
    case Source::Design:
      break;
  }
  if (row < 0) return "column '" + name + "'";
  const std::string design = "--design " + designFile;
  if (row > 0) {
    return design + ": row " + std::to_string(row) + " (line " + std::to_string(row + 1) + "), column '" + name + "'";
  }
  if (column > 0) return design + ": line 1, column " + std::to_string(column) + (name.empty() ? "" : " '" + name + "'");
  return name.empty() ? design : design + ": column '" + name + "'";
}

bool Plain(const std::string& arg) {
  return !arg.empty() && std::all_of(arg.begin(), arg.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("_./=:,@%+-").find(c) != std::string_view::npos;
  });
}

// The options that make the sweep's runs: its parameters as options (those at their defaults left
// out), lists as --set, its design's file, repeats, steps, recording and the master seed.
void SweepArguments(const Request& r, std::uint64_t masterSeed, std::vector<std::string>& args) {
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    if (sweep::AtDefault(r.base, k)) continue;
    args.insert(args.end(), {"--" + Dashed(Parameters[k].name), sweep::ValueText(k, r.base.values[k])});
  }
  for (const sweep::Axis& axis : r.axes) {
    std::string list;
    if (axis.IsProgression()) {
      list = axis.RangeText();
    } else {
      for (const double value : axis.listed) list += (list.empty() ? "" : ",") + sweep::ValueText(axis.parameter, value);
    }
    args.insert(args.end(), {"--set", Dashed(Parameters[axis.parameter].name) + "=" + list});
  }
  if (r.design) args.insert(args.end(), {"--design", r.design->file});
  args.insert(args.end(), {"--repeats", std::to_string(r.repeats), "--steps", std::to_string(r.steps), "--record-every",
                           std::to_string(r.recordEvery), "--seed", std::to_string(masterSeed)});
  if (r.quietSteps != 0) args.insert(args.end(), {"--until", sweep::UntilText(r.quietSteps)});
  if (r.means) args.insert(args.end(), {"--means", "on"});
  if (r.shardCount != 1) {
    args.insert(args.end(), {"--shard", std::to_string(r.shardIndex) + "/" + std::to_string(r.shardCount)});
  }
}

}  // namespace

std::optional<Request> ParseCommandLine(int argc, const char* const* argv, std::string& text) {
  Request request;
  for (int k = 0; k < argc; ++k) request.commandLine.emplace_back(argv[k]);
  Texts t;
  t.jobs = std::to_string(std::max(1u, std::thread::hardware_concurrency()));

  CLI::App app{
      "Runs the model without the window: seeded runs and sweeps on every core, one tidy CSV\n"
      "row per run and recorded step, a JSON manifest beside it, and pictures.\n"
      "  zelmora-batch merge OUT.csv SHARD.csv...  joins the shards of a sweep.\n"
      "  zelmora-batch summary FILE.csv ...  means and 95 % intervals of a sweep's measures (summary --help).\n"
      "  zelmora-batch plot FILE.csv --x P --y M --out FIG.png|.svg  their figure (plot --help).\n"
      "  zelmora-batch --from FILE.json --runs 13,20 --out again.csv ...  replays runs of a sweep.",
      "zelmora-batch"};
  AddOptions(app, t, request);
  app.set_version_flag("--version", std::string("zelmora-batch ") + sweep::BuildId());
  app.allow_extras();
  try {
    RefuseSwitchValues(app, argc, argv);
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    text = app.help();
    return std::nullopt;
  } catch (const CLI::CallForVersion& e) {
    text = std::string(e.what()) + "\n";
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    Rethrow(e);
  }
  if (t.listParameters) {
    text = ParameterListing();
    return std::nullopt;
  }
  if (!app.remaining().empty()) {
    const std::string first = app.remaining().front();
    throw UsageError(first.rfind('-', 0) == 0 ? "unknown option " + first + " (see --help for the options)"
                                              : "unexpected argument '" + first + "'; every value follows its option");
  }
  RefuseEmptyValues(app);
  if (request.out.empty()) throw UsageError("--out: required; expects the CSV file to write, e.g. --out runs.csv");
  const bool replay = !t.from.empty() || !t.runs.empty();
  if (replay) RefuseChangesOfTheRuns(app, t);
  try {
    ParseParameters(t, request);
    request.steps = FieldValue<std::int32_t>("steps", t.steps);
    request.recordEvery = FieldValue<std::int32_t>("record_every", t.recordEvery);
    if (t.means != "on" && t.means != "off") Fail("--means", "on or off", t.means);
    request.means = t.means == "on";
    request.repeats = FieldValue<std::int64_t>("repeats", t.repeats);
    request.jobs = FieldValue<std::int32_t>("jobs", t.jobs);
    request.progressEvery = FieldValue<std::int32_t>("progress_every", t.progressEvery);
    if (!t.seed.empty()) request.seed = FieldValue<std::uint64_t>("seed", t.seed);
    ParseShard(t.shard, request);
    const auto until = sweep::ParseUntil(t.until);
    if (!until) Fail("--until", sweep::FieldExpects("until"), t.until);
    request.quietSteps = *until;
    ParsePictures(t, request);
    ParseDesign(t, request);
    if (replay) request = ReplayOf(app, t, request);
  } catch (const RequestError& e) {
    throw UsageError(Worded(e, t.design));
  }
  return request;
}

std::string Worded(const RequestError& error, const std::string& designFile) {
  return sweep::Word(error, [&](Source source, const std::string& name, std::int64_t row, std::int64_t column) {
    return NamedPlace(source, name, row, column, designFile);
  });
}

std::vector<std::string> ResumeArguments(const Request& r, std::uint64_t masterSeed, std::int32_t jobs) {
  std::vector<std::string> args = {r.commandLine.empty() ? "zelmora-batch" : r.commandLine.front(), "--out", r.out};
  if (!r.from.empty()) {
    // A replay's runs come from the manifest it replays.
    args.insert(args.end(), {"--from", r.from, "--runs", r.runs.Text(), "--steps", std::to_string(r.steps),
                             "--record-every", std::to_string(r.recordEvery), "--means", r.means ? "on" : "off"});
  } else {
    SweepArguments(r, masterSeed, args);
  }
  args.insert(args.end(), {"--jobs", std::to_string(jobs > 0 ? jobs : r.jobs)});
  const sweep::Pictures& p = r.pictures;
  if (p.charts) args.insert(args.end(), {"--charts", p.windowChart ? "window" : "on"});
  if (!p.snapshotAt.empty()) {
    std::string at;
    for (const std::int32_t step : p.snapshotAt) at += (at.empty() ? "" : ",") + std::to_string(step);
    args.insert(args.end(), {"--snapshot-at", at});
  }
  if (p.snapshotEvery > 0) args.insert(args.end(), {"--snapshot-every", std::to_string(p.snapshotEvery)});
  if (p.video != sweep::Video::None) args.insert(args.end(), {"--video", p.video == sweep::Video::Gif ? "gif" : "mp4"});
  if (r.progressEvery != 60) args.insert(args.end(), {"--progress-every", std::to_string(r.progressEvery)});
  if (r.quiet) args.push_back("--quiet");
  args.push_back("--resume");
  return args;
}

std::string ShellCommand(const std::vector<std::string>& args) {
  std::string command;
  for (const std::string& arg : args) {
    if (!command.empty()) command += ' ';
    if (Plain(arg)) {
      command += arg;
      continue;
    }
    command += '\'';
    for (const char c : arg) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += '\'';
  }
  return command;
}

std::string ParameterListing() {
  std::string text = "name\tkind\trange\tdefault\tunit\tdescription\n";
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    const sweep::ParameterRow& row = Parameters[k];
    text += std::string(row.name) + "\t" + sweep::KindName(row.kind) + "\t" + sweep::RangeText(k) + "\t" +
            sweep::DefaultText(k) + "\t" + std::string(row.unit) + "\t" + std::string(row.description) + "\n";
  }
  return text;
}

}  // namespace zelmora::batch
