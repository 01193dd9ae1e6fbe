#include "batch/Runner.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "batch/Record.h"
#include "simulation/Measures.h"
#include "simulation/ModelPorts.h"
#include "simulation/World.h"

#ifndef ZELMORA_VERSION
#define ZELMORA_VERSION "0"
#endif

namespace zelmora::batch {
namespace fs = std::filesystem;
namespace {

std::string Describe(const Options& options, const RunPlan& run) {
  const Parameters& p = run.parameters;
  std::string text;
  text += "run " + std::to_string(run.index) + " (production costs ";
  AppendNumber(text, p.productionCosts);
  text += ", travel expenses ";
  AppendNumber(text, p.travelExpenses);
  text += ", returns to scale ";
  AppendNumber(text, p.returnsToScale);
  text += ", " + std::to_string(p.agents) + " agents on " + std::to_string(options.cols) + "x" +
          std::to_string(options.rows) + ")";
  return text;
}

// The option that set the agents, for messages.
std::string AgentsOption(const Options& options) {
  for (const SweepAxis& axis : options.sweep) {
    if (axis.name == "agents" || axis.name == "density") return "--set " + axis.name;
  }
  return options.density ? "--density" : "--agents";
}

// Every run must stay where the model is meaningful: its agents fit on the grid, and every
// delivered price stays below the ceiling above which the model never takes a price (a cell would
// keep a stale catchment). The dearest price is the dearest unit cost (a market with every agent
// when returns to scale are below 1, else one customer) plus the travel over the grid's diagonal.
void CheckRuns(const Options& options, const std::vector<RunPlan>& runs) {
  const std::int64_t cells = std::int64_t(options.cols) * options.rows;
  const double diagonal = std::hypot(double(options.cols - 1), double(options.rows - 1));
  for (const RunPlan& run : runs) {
    const Parameters& p = run.parameters;
    if (p.agents > cells) {
      throw UsageError(AgentsOption(options) + ": " + std::to_string(p.agents) + " agents do not fit on the " +
                       std::to_string(options.cols) + "x" + std::to_string(options.rows) +
                       " grid; expects at most " + std::to_string(cells) + " (one per cell)");
    }
    const double scale = p.returnsToScale < 1.0 ? std::pow(double(std::max<std::int64_t>(p.agents, 1)),
                                                           1.0 - p.returnsToScale)
                                                : 1.0;
    const double dearest = p.productionCosts * scale + p.travelExpenses * diagonal;
    if (!(dearest < World::PriceCeiling)) {
      std::string price;
      AppendNumber(price, std::round(dearest));
      throw UsageError("--production-costs/--travel-expenses: " + Describe(options, run) +
                       " could price cells at about " + price +
                       "; expects costs whose delivered prices stay below the model's ceiling 9999");
    }
  }
}

bool SameSweep(const nlohmann::json& manifest, const nlohmann::json& definition) {
  return manifest.contains("sweep") && manifest["sweep"] == definition;
}

std::string Quote(const std::string& arg) {
  bool plain = !arg.empty();
  for (char c : arg) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || std::string_view("_./=:,@%+-").find(c) != std::string_view::npos)) {
      plain = false;
    }
  }
  if (plain) return arg;
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The progress line: runs done of total, steps per second, time left. Only on a terminal.
class Progress {
 public:
  Progress(bool shown, std::ostream& err, std::size_t runs, std::int64_t stepsToDo)
      : shown_(shown), err_(err), runs_(runs), stepsToDo_(stepsToDo), start_(Clock::now()), last_(start_) {}

  void Show(std::size_t done, std::int64_t steps, bool force = false) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? double(steps) / seconds : 0.0;
    char line[160];
    if (rate > 0) {
      const auto left = std::int64_t(double(std::max<std::int64_t>(stepsToDo_ - steps, 0)) / rate);
      std::snprintf(line, sizeof line, "\r%zu/%zu runs, %.0f steps/s, %lld:%02lld:%02lld left   ", done, runs_, rate,
                    static_cast<long long>(left / 3600), static_cast<long long>(left / 60 % 60),
                    static_cast<long long>(left % 60));
    } else {
      std::snprintf(line, sizeof line, "\r%zu/%zu runs   ", done, runs_);
    }
    err_ << line << std::flush;
  }

  void End() {
    if (shown_) err_ << "\n";
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  std::ostream& err_;
  std::size_t runs_;
  std::int64_t stepsToDo_;
  Clock::time_point start_, last_;
};

// What a worker hands to the thread that writes.
struct Finished {
  std::size_t position = 0;  // in the shard's run order
  RunResult result;
  std::string error;  // non-empty: the worker failed (an I/O error of a snapshot, memory)
};

}  // namespace

RunResult RunOne(const Options& options, const RunPlan& run, const OutputPaths& paths, PictureMaker* pictures,
                 const std::atomic<bool>& stop, std::atomic<std::int64_t>& stepsDone) {
  RunResult result;
  result.run = run;
  result.started = UtcNow();
  const ModelSettings settings = SettingsOf(run.parameters);
  World world(settings);
  world.SetSeedSource(SeedStream(run.seed));
  world.SizeGrid(options.cols * World::CellPitch, options.rows * World::CellPitch);
  world.CreateGrid();
  world.CreateAgents();

  Measurer measurer;
  RowWriter rows(run, options.cols, options.rows);
  std::size_t nextSnapshot = 0;
  const double agents = double(world.Agents.size());
  const auto record = [&] {
    const StepMeasures measures = measurer.Measure(world);
    rows.Append(result.rows, world, measures);
    result.segregation.push_back({world.StepCount, measures.percentSimilar, measures.meanClusterSize,
                                  agents > 0 ? double(measures.unsatisfied) / agents : std::nan("")});
  };
  const auto snapshot = [&] {
    if (nextSnapshot < options.snapshotAt.size() && options.snapshotAt[nextSnapshot] == world.StepCount) {
      if (pictures) pictures->SaveSnapshot(world, paths.Snapshot(run.index, world.StepCount));
      ++nextSnapshot;
    }
  };
  record();
  snapshot();
  if (options.charts) result.market.reserve(std::size_t(options.steps));
  for (std::int32_t step = 1; step <= options.steps; ++step) {
    if (stop.load(std::memory_order_relaxed)) return result;
    world.SimulationStep();
    stepsDone.fetch_add(1, std::memory_order_relaxed);
    if (options.charts) {
      const TCell& yellow = world.MarketCell(YellowMarket);
      result.market.push_back({double(yellow.customers), yellow.unitCost});
    }
    if (step % options.recordEvery == 0 || step == options.steps) record();
    snapshot();
  }
  result.finished = UtcNow();
  result.complete = true;
  return result;
}

SweepPlan PrepareSweep(const Options& options) {
  SweepPlan plan;
  plan.options = options;
  plan.paths = OutputPaths(options.out);
  StartPlan start = CheckOutputs(options, plan.paths);
  plan.start = start.kind;
  if (options.seed) {
    plan.masterSeed = *options.seed;
  } else if (start.kind != StartKind::Fresh) {
    const nlohmann::json& seed = start.manifest["sweep"]["master_seed"];
    if (!seed.is_number_unsigned()) {
      throw UsageError("--resume: the manifest '" + plan.paths.manifest + "' holds no master seed; give --seed");
    }
    plan.masterSeed = seed.get<std::uint64_t>();
  } else {
    plan.masterSeed = DrawMasterSeed();
    plan.seedDrawn = true;
  }
  plan.runs = ShardRuns(options, plan.masterSeed);
  CheckRuns(options, plan.runs);
  plan.rowsPerRun = RecordedSteps(options.steps, options.recordEvery).size();
  if (start.kind != StartKind::Fresh) {
    if (!SameSweep(start.manifest, SweepDefinition(options, plan.masterSeed, plan.runs))) {
      throw UsageError("--resume: the options describe another sweep than the manifest '" + plan.paths.manifest +
                       "'; give the options it was started with, or --force to start afresh");
    }
    if (start.kind == StartKind::Resume) {
      plan.scan = ScanPartial(plan.paths.partial, CsvHeader(), plan.runs, plan.rowsPerRun);
    }
    plan.oldManifest = std::move(start.manifest);
  }
  return plan;
}

std::string ResumeCommand(const SweepPlan& plan) {
  std::string command;
  const std::vector<std::string>& args = plan.options.commandLine;
  for (std::size_t k = 0; k < args.size(); ++k) {
    if (k > 0 && (args[k] == "--force" || args[k] == "--resume")) continue;
    if (!command.empty()) command += ' ';
    command += Quote(args[k]);
  }
  if (!plan.options.seed) command += " --seed " + std::to_string(plan.masterSeed);
  return command + " --resume";
}

int ExecuteSweep(const SweepPlan& plan, PictureMaker* pictures, std::ostream& err,
                 const std::atomic<int>& stopSignal) {
  const Options& options = plan.options;
  const OutputPaths& paths = plan.paths;
  if (plan.start == StartKind::Complete) {
    err << "zelmora-batch: " << paths.csv << " is complete; nothing to resume\n";
    return 0;
  }
  if (plan.seedDrawn) {
    err << "zelmora-batch: master seed " << plan.masterSeed << " (drawn; --seed " << plan.masterSeed
        << " repeats this sweep)\n";
  }

  const std::size_t total = plan.runs.size();
  std::size_t written = plan.start == StartKind::Resume ? plan.scan.completeRuns : 0;
  nlohmann::json manifest = plan.start == StartKind::Resume ? plan.oldManifest : nlohmann::json::object();
  const std::string now = UtcNow();
  if (plan.start == StartKind::Resume) {
    manifest["resumed"].push_back({{"command_line", options.commandLine}, {"at", now}});
  } else {
    manifest = {{"program", "zelmora-batch"},
                {"version", ZELMORA_VERSION},
                {"command_line", options.commandLine},
                {"master_seed", plan.masterSeed},
                {"master_seed_drawn", plan.seedDrawn},
                {"jobs", options.jobs},
                {"started", now},
                {"finished", nullptr},
                {"sweep", SweepDefinition(options, plan.masterSeed, plan.runs)},
                {"run_times", nlohmann::json::object()}};
  }
  manifest["status"] = "running";
  manifest["runs_in_shard"] = total;
  manifest["completed_runs"] = written;

  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> stepsDone{0};
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Finished> finished;
  std::size_t workersLeft = 0;
  std::vector<std::thread> workers;
  std::map<std::size_t, std::string> waiting;  // finished runs whose turn to be written has not come
  auto lastManifest = std::chrono::steady_clock::now();

  const auto joinWorkers = [&] {
    stop = true;
    for (std::thread& worker : workers) worker.join();
    workers.clear();
  };
  // An I/O error (or a worker's failure): what is whole stays, and the sweep can be resumed.
  const auto fail = [&](const std::string& message) {
    joinWorkers();
    manifest["status"] = "failed";
    manifest["completed_runs"] = written;
    try {
      WriteWhole(paths.manifest, manifest.dump(1) + "\n");
    } catch (const IoError&) {
      // The error reported below is the first one; the manifest's state is secondary.
    }
    err << "zelmora-batch: " << message << "; " << written << " runs are kept in " << paths.partial
        << "; to resume: " << ResumeCommand(plan) << "\n";
    return ExitIoError;
  };

  try {
    if (plan.start == StartKind::Fresh) {
      std::error_code ec;
      fs::remove(paths.csv, ec);
      fs::remove(paths.manifest, ec);
      fs::remove_all(paths.spool, ec);
    }
    PartialFile partial(paths.partial, CsvHeader(),
                        plan.start == StartKind::Resume ? std::optional(plan.scan.keepBytes) : std::nullopt);
    WriteWhole(paths.manifest, manifest.dump(1) + "\n");

    const auto writeManifest = [&](bool force) {
      const auto t = std::chrono::steady_clock::now();
      // Rewriting a long manifest after every run would cost more than the runs: once a second.
      if (!force && t - lastManifest < std::chrono::seconds(1)) return;
      lastManifest = t;
      manifest["completed_runs"] = written;
      WriteWhole(paths.manifest, manifest.dump(1) + "\n");
    };
    const auto flushInOrder = [&] {
      for (auto it = waiting.find(written); it != waiting.end(); it = waiting.find(written)) {
        partial.Append(it->second);
        waiting.erase(it);
        std::error_code ec;
        fs::remove(paths.SpoolFile(plan.runs[written].index), ec);
        ++written;
      }
    };

    // Runs spooled by an interrupted session need not run again.
    std::vector<std::size_t> work;
    for (std::size_t position = written; position < total; ++position) {
      const RunPlan& run = plan.runs[position];
      if (plan.start == StartKind::Resume) {
        if (auto rows = ReadSpooled(paths.SpoolFile(run.index), run, plan.rowsPerRun)) {
          waiting.emplace(position, std::move(*rows));
          continue;
        }
      }
      work.push_back(position);
    }
    flushInOrder();

    Progress progress(!options.quiet && isatty(STDERR_FILENO), err, total,
                      std::int64_t(work.size()) * options.steps);
    std::atomic<std::size_t> next{0};
    const std::size_t jobs = std::min<std::size_t>(std::size_t(options.jobs), work.size());
    workersLeft = jobs;
    for (std::size_t j = 0; j < jobs; ++j) {
      workers.emplace_back([&] {
        while (!stop) {
          const std::size_t k = next.fetch_add(1);
          if (k >= work.size()) break;
          Finished item;
          item.position = work[k];
          try {
            item.result = RunOne(options, plan.runs[work[k]], paths, pictures, stop, stepsDone);
          } catch (const std::exception& e) {
            item.error = e.what();
            stop = true;
          }
          std::lock_guard lock(mutex);
          finished.push_back(std::move(item));
          ready.notify_one();
        }
        std::lock_guard lock(mutex);
        --workersLeft;
        ready.notify_one();
      });
    }

    std::string workerError;
    int signal = 0;
    while (true) {
      std::deque<Finished> batch;
      bool done = false;
      {
        std::unique_lock lock(mutex);
        // The wait is bounded so that a signal is noticed soon even while no run finishes.
        ready.wait_for(lock, std::chrono::milliseconds(50), [&] { return !finished.empty() || workersLeft == 0; });
        batch.swap(finished);
        done = workersLeft == 0 && batch.empty();
      }
      for (Finished& item : batch) {
        if (!item.error.empty()) {
          if (workerError.empty()) workerError = item.error;
          continue;
        }
        if (!item.result.complete) continue;
        const RunPlan& run = item.result.run;
        if (options.charts && pictures) {
          pictures->SaveCharts(item.result, paths.MarketChart(run.index), paths.SegregationChart(run.index));
        }
        manifest["run_times"][std::to_string(run.index)] = {{"started", item.result.started},
                                                            {"finished", item.result.finished}};
        if (item.position != written) {
          // Kept on disk at once, so even a killed process keeps it for --resume.
          std::error_code ec;
          fs::create_directories(paths.spool, ec);
          WriteWhole(paths.SpoolFile(run.index), item.result.rows);
        }
        waiting.emplace(item.position, std::move(item.result.rows));
        flushInOrder();
        writeManifest(false);
      }
      if (signal == 0 && stopSignal.load() != 0) {
        signal = stopSignal.load();
        stop = true;
      }
      if (!workerError.empty()) stop = true;
      progress.Show(written + waiting.size(), stepsDone.load());
      if (done) break;
    }
    joinWorkers();
    progress.Show(written + waiting.size(), stepsDone.load(), true);
    progress.End();

    if (!workerError.empty()) return fail(workerError);
    if (written == total) {
      partial.Finish(paths.csv);
      std::error_code ec;
      fs::remove_all(paths.spool, ec);
      manifest["status"] = "complete";
      manifest["finished"] = UtcNow();
      writeManifest(true);
      return 0;
    }
    manifest["status"] = "interrupted";
    writeManifest(true);
    err << "zelmora-batch: interrupted; " << written + waiting.size() << " of " << total << " runs kept ("
        << written << " in " << paths.partial << ", " << waiting.size() << " spooled in " << paths.spool
        << "); to resume: " << ResumeCommand(plan) << "\n";
    return 128 + (signal != 0 ? signal : 2);
  } catch (const std::exception& e) {
    // An I/O error, or a thread or memory the system refused.
    return fail(e.what());
  }
}

}  // namespace zelmora::batch
