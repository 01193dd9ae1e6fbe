#include "batch/Options.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>
#include <thread>

#include "sweep/Build.h"
#include "sweep/Design.h"

namespace zelmora::batch {
namespace {

[[noreturn]] void Fail(const std::string& option, const std::string& accepts, const std::string& text) {
  throw UsageError(option + ": expects " + accepts + "; got '" + text + "'");
}

// The whole text as one number of type T, or nothing: no blanks, no trailing characters.
template <class T>
std::optional<T> ParseWhole(const std::string& text) {
  T value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

bool ParseSwitch(const std::string& option, const std::string& text) {
  if (text == "on") return true;
  if (text == "off") return false;
  Fail(option, "on or off", text);
}

// A decimal number as an integer count of 10^-places: "1.25" with places 3 is 1250. Only plain
// decimals (digits, one point, an optional minus) take part in ranges, so that 0.9:1.1:0.1
// yields exactly 0.9, 1 and 1.1 and not a sum of rounded steps.
std::optional<int> DecimalPlaces(const std::string& text) {
  std::size_t k = (!text.empty() && text[0] == '-') ? 1 : 0;
  if (k == text.size()) return std::nullopt;
  int places = -1;
  bool digits = false;
  for (; k < text.size(); ++k) {
    if (text[k] == '.' && places < 0) {
      places = 0;
    } else if (text[k] >= '0' && text[k] <= '9') {
      digits = true;
      if (places >= 0) ++places;
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  return std::max(places, 0);
}

std::optional<std::int64_t> Scaled(const std::string& text, int places) {
  std::string digits;
  int seen = -1;
  for (char c : text) {
    if (c == '.') {
      seen = 0;
      continue;
    }
    digits += c;
    if (seen >= 0) ++seen;
  }
  for (int k = std::max(seen, 0); k < places; ++k) digits += '0';
  if (digits.size() > 17) return std::nullopt;
  return ParseInteger(digits);
}

std::string Unscaled(std::int64_t value, int places) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (places > 0) {
    if (int(digits.size()) <= places) digits.insert(0, std::size_t(places + 1) - digits.size(), '0');
    digits.insert(digits.size() - std::size_t(places), ".");
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  return value < 0 ? "-" + digits : digits;
}

constexpr std::int64_t MaxListLength = 100000;

struct KnobName {
  const char* name;
  Knob knob;
};
constexpr KnobName KnobNames[] = {
    {"threshold", Knob::Threshold},           {"production-costs", Knob::ProductionCosts},
    {"travel-expenses", Knob::TravelExpenses}, {"returns-to-scale", Knob::ReturnsToScale},
    {"segregation", Knob::Segregation},       {"centers", Knob::Centers},
    {"agents", Knob::Agents},                 {"density", Knob::Density}};

}  // namespace

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

std::optional<double> ParseFinite(const std::string& text) {
  const auto value = ParseWhole<double>(text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return *value + 0.0;  // -0 + 0 is +0: a negative zero is written as 0
}

std::optional<std::int64_t> ParseInteger(const std::string& text) { return ParseWhole<std::int64_t>(text); }

std::optional<Knob> KnobNamed(const std::string& name) {
  for (const KnobName& k : KnobNames) {
    if (name == k.name) return k.knob;
  }
  return std::nullopt;
}

double ParseKnob(const std::string& option, Knob knob, const std::string& text) {
  const auto number = [&](double low, double high, const char* accepts) {
    const auto value = ParseFinite(text);
    if (!value || *value < low || *value > high) Fail(option, accepts, text);
    return *value;
  };
  switch (knob) {
    case Knob::Threshold: {
      const auto value = ParseInteger(text);
      if (!value || *value < 0 || *value > 8) Fail(option, "a whole number of eighths from 0 to 8", text);
      return double(*value);
    }
    case Knob::ProductionCosts:
    case Knob::TravelExpenses:
      return number(0, 1e6, "a number from 0 to 1000000");
    case Knob::ReturnsToScale:
      return number(0, 10, "a number from 0 to 10");
    case Knob::Segregation:
    case Knob::Centers:
      return ParseSwitch(option, text) ? 1.0 : 0.0;
    case Knob::Agents: {
      // Agents fit on at most 2^31-1 cells, so a double holds the count exactly.
      const auto value = ParseInteger(text);
      if (!value || *value < 0 || *value > 2147483647) Fail(option, "a whole number of agents, 0 or more", text);
      return double(*value);
    }
    case Knob::Density:
      return number(0, 1, "a share of the cells from 0 to 1");
  }
  Fail(option, "a value", text);
}

void SetKnob(Knob knob, double value, Parameters& p, std::optional<double>& density) {
  switch (knob) {
    case Knob::Threshold: p.threshold = std::int32_t(value); break;
    case Knob::ProductionCosts: p.productionCosts = value; break;
    case Knob::TravelExpenses: p.travelExpenses = value; break;
    case Knob::ReturnsToScale: p.returnsToScale = value; break;
    case Knob::Segregation: p.segregation = value != 0; break;
    case Knob::Centers: p.centers = value != 0; break;
    case Knob::Agents:
      p.agents = std::int64_t(value);
      density.reset();
      break;
    case Knob::Density: density = value; break;
  }
}

std::vector<std::string> ExpandList(const std::string& option, const std::string& list) {
  const char* accepts = "a list a,b,c or a range start:stop:step with step > 0 and start <= stop";
  if (list.find(':') == std::string::npos) {
    std::vector<std::string> values = SplitCommas(list);
    for (const std::string& value : values) {
      if (value.empty()) Fail(option, accepts, list);
    }
    if (std::int64_t(values.size()) > MaxListLength) Fail(option, "at most 100000 values", list);
    return values;
  }
  const std::size_t first = list.find(':');
  const std::size_t second = list.find(':', first + 1);
  if (second == std::string::npos || list.find(':', second + 1) != std::string::npos) {
    Fail(option, accepts, list);
  }
  const std::string parts[3] = {list.substr(0, first), list.substr(first + 1, second - first - 1),
                                list.substr(second + 1)};
  int places = 0;
  for (const std::string& part : parts) {
    const auto p = DecimalPlaces(part);
    if (!p) Fail(option, accepts, list);
    places = std::max(places, *p);
  }
  std::int64_t scaled[3];
  for (int k = 0; k < 3; ++k) {
    const auto s = Scaled(parts[k], places);
    if (!s) Fail(option, accepts, list);
    scaled[k] = *s;
  }
  const auto [start, stop, step] = scaled;
  if (step <= 0 || start > stop) Fail(option, accepts, list);
  if ((stop - start) / step + 1 > MaxListLength) Fail(option, "at most 100000 values", list);
  std::vector<std::string> values;
  for (std::int64_t v = start; v <= stop; v += step) values.push_back(Unscaled(v, places));
  return values;
}

std::int64_t PhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return std::int64_t(pages) * std::int64_t(pageSize);
}


namespace {

// The options' texts as typed; each is parsed once below.
struct Texts {
  std::string grid = "40x40", agents, density, threshold = "3", production = "100", travel = "1", returns = "1",
              segregation = "on", centers = "on", steps = "500", recordEvery = "1", seed, repeats = "1", jobs,
              shard = "0/1", snapshots, charts = "off", design, until = "steps", snapshotEvery, video = "off",
              progressEvery = "60";
  std::vector<std::string> sets;
};

void AddOptions(CLI::App& app, Texts& t, Options& options) {
  app.get_formatter()->column_width(34);
  app.add_option("--grid", t.grid, "grid size, each side at least 10")->type_name("COLSxROWS")
      ->capture_default_str();
  app.add_option("--agents", t.agents, "number of agents, at most the cells [default: 800 on 40x40, "
                                       "otherwise half the cells]")->type_name("N");
  app.add_option("--density", t.density, "agents as a share of the cells, 0 to 1")->type_name("D");
  app.add_option("--threshold", t.threshold,
                 "segregation threshold in eighths, 0 to 8 (like share strictly above K/8)")
      ->type_name("K")->capture_default_str();
  app.add_option("--production-costs", t.production, "0 to 1000000 (window: 1 to 500)")
      ->type_name("X")->capture_default_str();
  app.add_option("--travel-expenses", t.travel, "0 to 1000000 (window: 0.02 to 2)")
      ->type_name("X")->capture_default_str();
  app.add_option("--returns-to-scale", t.returns, "0 to 10 (window: 0.9 to 1.3)")
      ->type_name("X")->capture_default_str();
  app.add_option("--segregation", t.segregation, "the segregation phase")->type_name("on|off")
      ->capture_default_str();
  app.add_option("--centers", t.centers, "the look-for-centers phase")->type_name("on|off")
      ->capture_default_str();
  app.add_option("--steps", t.steps, "steps per run, 0 to 1000000000")->type_name("N")
      ->capture_default_str();
  app.add_option("--record-every", t.recordEvery,
                 "record step 0, every K-th step and the last step; K at least 1")
      ->type_name("K")->capture_default_str();
  app.add_option("--seed", t.seed, "master seed, 0 to 2^64-1 [default: drawn and printed]")
      ->type_name("S");
  app.add_option("--repeats", t.repeats, "runs per combination of parameters, 1 to 10000000")
      ->type_name("R")->capture_default_str();
  app.add_option("--set", t.sets,
                 "vary a parameter (threshold, production-costs, travel-expenses, returns-to-scale, "
                 "segregation, centers, agents, density): LIST is a,b,c or start:stop:step; several "
                 "--set give their cross product")
      ->type_name("NAME=LIST")->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--design", t.design,
                 "run the points of a CSV: a header of names as --set takes them, one line of values per "
                 "point; --set on other parameters multiplies them, --repeats repeats each")
      ->type_name("FILE.csv");
  app.add_option("--until", t.until,
                 "steps: run --steps steps; settled: end a run at the first step after which no agent is "
                 "unsatisfied and none moved (--steps stays the most)")
      ->type_name("steps|settled")->capture_default_str();
  app.add_option("--jobs", t.jobs, "worker threads, 1 to 1024 [default: every core]")->type_name("J");
  app.add_option("--shard", t.shard, "run only the runs whose index is I modulo N, 0 <= I < N")
      ->type_name("I/N")->capture_default_str();
  app.add_option("--out", options.out,
                 "the CSV to write (name ending in .csv); the manifest is FILE.json beside it")
      ->type_name("FILE.csv")->required();
  app.add_option("--snapshot-at", t.snapshots,
                 "PNGs of the grid after these steps (0 to --steps): 10 pixels per cell, or 1 "
                 "pixel per cell where 10 would make a side over 4000 pixels")
      ->type_name("S1,S2,...");
  app.add_option("--snapshot-every", t.snapshotEvery, "PNGs of the grid after every K-th step and the last")
      ->type_name("K");
  app.add_option("--video", t.video,
                 "a video of each run's grid through ffmpeg, a frame per recorded step (per K steps "
                 "with --snapshot-every K)")
      ->type_name("off|mp4|gif")->capture_default_str();
  app.add_option("--progress-every", t.progressEvery,
                 "seconds between progress lines when stderr is not a terminal (a job's log); 0: none")
      ->type_name("SECONDS")->capture_default_str();
  app.add_option("--charts", t.charts,
                 "PNGs of each run's market chart and segregation chart over the whole run; window: "
                 "the market chart as the window shows it after the last step")
      ->type_name("on|off|window")->capture_default_str();
  app.add_flag("--quiet", options.quiet, "no progress line");
  app.add_flag("--resume", options.resume, "run only the runs missing from FILE.csv.partial");
  app.add_flag("--force", options.force, "replace an existing output (not one another process writes)");
}

// CLI11's errors as one line naming the option.
[[noreturn]] void Rethrow(const CLI::ParseError& e) {
  const std::string message = e.what();
  if (dynamic_cast<const CLI::RequiredError*>(&e)) {
    throw UsageError(message.find("--out") != std::string::npos
                         ? "--out: required; expects the CSV file to write, e.g. --out runs.csv"
                         : message);
  }
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

void ParseGrid(const std::string& grid, Options& options) {
  const std::size_t x = grid.find('x');
  const auto cols = x == std::string::npos ? std::nullopt : ParseInteger(grid.substr(0, x));
  const auto rows = x == std::string::npos ? std::nullopt : ParseInteger(grid.substr(x + 1));
  if (!cols || !rows || *cols < 10 || *rows < 10 || *cols > MaxGridSide || *rows > MaxGridSide ||
      *cols * *rows > 2147483647) {
    Fail("--grid", "COLSxROWS, each side from 10 to 100000 and at most 2^31-1 cells", grid);
  }
  options.cols = std::int32_t(*cols);
  options.rows = std::int32_t(*rows);
}

void ParseBase(const Texts& t, Options& options) {
  const std::int64_t cells = std::int64_t(options.cols) * options.rows;
  options.base.agents = (options.cols == 40 && options.rows == 40) ? 800 : cells / 2;
  if (!t.agents.empty() && !t.density.empty()) {
    throw UsageError("--agents and --density exclude each other; give one of them");
  }
  const std::pair<const char*, const std::string*> plain[] = {
      {"threshold", &t.threshold}, {"production-costs", &t.production}, {"travel-expenses", &t.travel},
      {"returns-to-scale", &t.returns}, {"segregation", &t.segregation}, {"centers", &t.centers},
      {"agents", &t.agents}, {"density", &t.density}};
  for (const auto& [name, text] : plain) {
    if (text->empty()) continue;  // not given (an empty value was refused before)
    const Knob knob = *KnobNamed(name);
    SetKnob(knob, ParseKnob(std::string("--") + name, knob, *text), options.base, options.density);
  }
}

std::int64_t ParseCount(const std::string& option, const std::string& text, std::int64_t low, std::int64_t high,
                        const std::string& accepts) {
  const auto value = ParseInteger(text);
  if (!value || *value < low || *value > high) Fail(option, accepts, text);
  return *value;
}

void ParseShard(const std::string& shard, Options& options) {
  const std::size_t slash = shard.find('/');
  const auto index = slash == std::string::npos ? std::nullopt : ParseInteger(shard.substr(0, slash));
  const auto total = slash == std::string::npos ? std::nullopt : ParseInteger(shard.substr(slash + 1));
  if (!index || !total || *total < 1 || *index < 0 || *index >= *total) {
    Fail("--shard", "I/N with whole numbers 0 <= I < N", shard);
  }
  options.shardIndex = *index;
  options.shardCount = *total;
}

void ParseSnapshots(const std::string& snapshots, Options& options) {
  if (snapshots.empty()) return;
  std::set<std::int32_t> at;
  for (const std::string& part : SplitCommas(snapshots)) {
    const auto step = ParseInteger(part);
    if (!step || *step < 0 || *step > options.steps) {
      Fail("--snapshot-at", "a list of steps from 0 to --steps (" + std::to_string(options.steps) + ")", snapshots);
    }
    at.insert(std::int32_t(*step));
  }
  options.snapshotAt.assign(at.begin(), at.end());
}

// The --set axes, each value parsed once; returns the number of runs of the sweep.
std::int64_t ParseSets(const Texts& t, Options& options) {
  std::set<Knob> varied;
  std::int64_t runs = options.repeats;
  for (const std::string& set : t.sets) {
    const std::size_t equals = set.find('=');
    if (equals == std::string::npos || equals == 0) {
      Fail("--set", "NAME=LIST, e.g. returns-to-scale=0.9,1,1.1 or threshold=1:7:1", set);
    }
    SweepAxis axis{set.substr(0, equals), Knob::Threshold, {}};
    const std::string option = "--set " + axis.name;
    const auto knob = KnobNamed(axis.name);
    if (!knob) {
      throw UsageError(option + ": cannot vary '" + axis.name +
                       "'; names: threshold, production-costs, travel-expenses, returns-to-scale, "
                       "segregation, centers, agents, density");
    }
    axis.knob = *knob;
    if (!varied.insert(axis.knob).second) throw UsageError(option + ": given twice; give each name once");
    if (varied.count(Knob::Agents) && varied.count(Knob::Density)) {
      throw UsageError("--set agents and --set density exclude each other; vary one of them");
    }
    // The agents come from one place: a varied count or density would silently replace the other.
    if ((axis.knob == Knob::Density && !t.agents.empty()) || (axis.knob == Knob::Agents && !t.density.empty())) {
      throw UsageError(option + " and --" + (axis.knob == Knob::Density ? "agents" : "density") +
                       " exclude each other; give one of them");
    }
    for (const std::string& value : ExpandList(option, set.substr(equals + 1))) {
      axis.values.push_back(ParseKnob(option, axis.knob, value));
    }
    runs *= std::int64_t(axis.values.size());
    if (runs > MaxRuns) throw UsageError("--set: the sweep would have more than 10000000 runs");
    options.sweep.push_back(std::move(axis));
  }
  return runs;
}

// The design's points, from its file or as given, checked against the --set axes; returns the runs
// of the sweep.
std::int64_t ParseDesignOption(const Texts& t, Options& options, std::int64_t runs,
                               const std::optional<std::string>& given) {
  if (t.design.empty()) return runs;
  std::string content;
  try {
    content = given ? *given : ReadDesignFile(t.design);
  } catch (const UsageError&) {
    // A resume needs only the manifest, which holds the design.
    if (!options.resume) throw;
    options.design = Design{t.design, "", {}, 0, true};
    return runs;
  }
  options.design = ParseDesign(t.design, std::move(content));
  CheckDesignAgainst(*options.design, options, !t.agents.empty());
  if (runs * std::int64_t(options.design->points) > MaxRuns) {
    throw UsageError("--design: with --set and --repeats the sweep would have more than 10000000 runs");
  }
  return runs * std::int64_t(options.design->points);
}

VideoFormat ParseVideo(const std::string& text) {
  if (text == "off") return VideoFormat::None;
  if (text == "mp4") return VideoFormat::Mp4;
  if (text == "gif") return VideoFormat::Gif;
  Fail("--video", "off, mp4 or gif", text);
}

// Every World of the workers is in memory at once.
void CheckSize(const Options& options, std::int64_t runs, const std::string& grid) {
  const std::int64_t shardRuns = (runs - options.shardIndex + options.shardCount - 1) / options.shardCount;
  if (shardRuns > MaxShardRuns) {
    throw UsageError("--shard: this invocation would run " + std::to_string(shardRuns) +
                     " runs, more than 100000; split the sweep with --shard I/N");
  }
  const std::int64_t cells = std::int64_t(options.cols) * options.rows;
  const std::int64_t worlds = std::max<std::int64_t>(1, std::min<std::int64_t>(options.jobs, shardRuns));
  const std::int64_t memory = PhysicalMemory();
  if (memory > 0 && cells * BytesPerCell * worlds > memory / 2) {
    throw UsageError("--grid: " + grid + " needs about " + std::to_string(cells * BytesPerCell >> 20) +
                     " MiB per World, and " + std::to_string(worlds) +
                     " at once (--jobs) exceed half of this machine's memory (" + std::to_string(memory >> 20) +
                     " MiB); use a smaller grid or fewer --jobs");
  }
}

}  // namespace

std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::string& help,
                                        const std::optional<std::string>& designContent) {
  Options options;
  for (int k = 0; k < argc; ++k) options.commandLine.emplace_back(argv[k]);
  Texts t;
  t.jobs = std::to_string(std::max(1u, std::thread::hardware_concurrency()));

  CLI::App app{
      "Runs the model without the window: seeded runs and sweeps on every core, one tidy CSV\n"
      "row per run and recorded step, a JSON manifest beside it, and pictures.\n"
      "  zelmora-batch merge OUT.csv SHARD.csv...  joins the shards of a sweep.",
      "zelmora-batch"};
  AddOptions(app, t, options);
  app.set_version_flag("--version", std::string("zelmora-batch ") + BuildId());
  app.allow_extras();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    help = app.help();
    return std::nullopt;
  } catch (const CLI::CallForVersion& e) {
    help = std::string(e.what()) + "\n";
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    Rethrow(e);
  }
  if (!app.remaining().empty()) {
    const std::string first = app.remaining().front();
    throw UsageError(first.rfind('-', 0) == 0 ? "unknown option " + first + " (see --help for the options)"
                                              : "unexpected argument '" + first + "'; every value follows its option");
  }
  RefuseEmptyValues(app);

  // The grid first: the agents' default and the memory check depend on it.
  ParseGrid(t.grid, options);
  ParseBase(t, options);
  options.steps = std::int32_t(ParseCount("--steps", t.steps, 0, 1'000'000'000, "a whole number from 0 to 1000000000"));
  options.recordEvery =
      std::int32_t(ParseCount("--record-every", t.recordEvery, 1, 2147483647, "a whole number of steps, at least 1"));
  options.repeats = ParseCount("--repeats", t.repeats, 1, MaxRuns, "a whole number from 1 to 10000000");
  options.jobs = std::int32_t(ParseCount("--jobs", t.jobs, 1, 1024, "a whole number of threads from 1 to 1024"));
  if (!t.seed.empty()) {
    options.seed = ParseWhole<std::uint64_t>(t.seed);
    if (!options.seed) Fail("--seed", "a whole number from 0 to 18446744073709551615", t.seed);
  }
  ParseShard(t.shard, options);
  options.windowChart = t.charts == "window";
  if (!options.windowChart && t.charts != "on" && t.charts != "off") Fail("--charts", "on, off or window", t.charts);
  options.charts = t.charts != "off";
  ParseSnapshots(t.snapshots, options);
  if (!t.snapshotEvery.empty()) {
    options.snapshotEvery = std::int32_t(
        ParseCount("--snapshot-every", t.snapshotEvery, 1, 1'000'000'000, "a whole number of steps, at least 1"));
  }
  if (t.until != "steps" && t.until != "settled") Fail("--until", "steps or settled", t.until);
  options.untilSettled = t.until == "settled";
  options.video = ParseVideo(t.video);
  options.progressEvery = std::int32_t(
      ParseCount("--progress-every", t.progressEvery, 0, 86400, "a whole number of seconds from 0 to 86400"));
  const std::int64_t runs = ParseDesignOption(t, options, ParseSets(t, options), designContent);

  if (options.out.size() < 5 || options.out.compare(options.out.size() - 4, 4, ".csv") != 0) {
    Fail("--out", "a file name ending in .csv", options.out);
  }
  if (options.resume && options.force) {
    throw UsageError("--resume and --force exclude each other; give one of them");
  }
  CheckSize(options, runs, t.grid);
  return options;
}

}  // namespace zelmora::batch
