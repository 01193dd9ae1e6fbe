#include "python/PySweep.h"

#include <pybind11/numpy.h>

#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "python/Keywords.h"
#include "python/Outputs.h"
#include "python/Parameters.h"
#include "python/RunView.h"
#include "python/StateArrays.h"
#include "python/SweepPictures.h"
#include "sweep/Columns.h"
#include "sweep/Merge.h"
#include "sweep/Run.h"
#include "sweep/Runner.h"
#include "sweep/WorkerPool.h"

namespace zelmora::python {
namespace {

// The sweep's runs, checked as zelmora-batch checks them before it starts; each run is made from
// the request when its turn comes.
struct Plan {
  sweep::Request request;
  std::uint64_t masterSeed = 0;
  std::int64_t runs = 0;
  std::size_t rowsPerRun = 0;  // the most a run has: one that settles has fewer

  sweep::RunPlan Run(std::int64_t k) const { return sweep::RunAt(request, masterSeed, sweep::ShardRun(request, k)); }
};

// Text that may hold a path's bytes, which need be no UTF-8, as Python's str: undecodable bytes
// as the file system's functions decode them (os.fsdecode).
py::object FileSystemText(const std::string& text) {
  return py::module_::import("os").attr("fsdecode")(py::bytes(text));
}

// Raises an exception of `type` with a message that may hold a path's bytes.
[[noreturn]] void Raise(PyObject* type, const std::string& message) {
  PyErr_SetObject(type, FileSystemText(message).ptr());
  throw py::error_already_set();
}

// Raises a request's error as Python's ValueError in Python's words.
template <class F>
auto Checked(F&& f) {
  try {
    return f();
  } catch (const sweep::RequestError& e) {
    Raise(PyExc_ValueError, Worded(e));
  }
}

Plan PlanSweep(const sweep::Request& request) {
  Plan plan;
  plan.request = request;
  Checked([&] {
    sweep::Validate(plan.request);
    return 0;
  });
  plan.masterSeed = request.seed ? *request.seed : sweep::DrawMasterSeed();
  plan.runs = sweep::ShardSize(request);
  plan.rowsPerRun = sweep::RecordedCount(request.steps, request.recordEvery);
  return plan;
}

// The measures written in Python: new column names, each with a callable. They run one at a time:
// a measure lets go of the GIL inside NumPy, and another worker's would run meanwhile.
struct UserMeasures {
  std::vector<std::string> names;
  std::vector<py::object> calls;
  mutable std::mutex oneAtATime;
};

void MeasuresFrom(const py::dict& measures, bool means, UserMeasures& user) {
  for (const auto& [key, call] : measures) {
    if (!py::isinstance<py::str>(key)) throw py::type_error("measures: names are strings; got " + TypeName(key));
    const std::string name = py::str(key);
    for (const sweep::Column& column : sweep::Columns(means)) {
      if (column.name == name) {
        throw py::value_error("measures: '" + name + "' is a column of the sweep already; give another name");
      }
    }
    if (!PyCallable_Check(call.ptr())) {
      throw py::type_error("measures: '" + name + "' expects a function of the run's view; got " + TypeName(call));
    }
    user.names.push_back(name);
    user.calls.push_back(py::reinterpret_borrow<py::object>(call));
  }
}

// An agent's row at a recorded step: run, step, agent (int64), col, row, colour (int32), satisfied.
constexpr double AgentRowBytes = 3 * 8 + 3 * 4 + 1;

// The tables live in memory whole: refused before anything runs when they would not fit.
void CheckMemory(const Plan& plan, std::size_t columns, bool agentRows) {
  const double half = double(sweep::PhysicalMemory()) / 2;
  if (half <= 0) return;
  const double rows = double(plan.runs) * double(plan.rowsPerRun);
  if (rows * double(columns) * 8 > half) {
    throw py::value_error("steps/record_every: the sweep's " + std::to_string(std::int64_t(rows)) +
                          " rows need more than half of this machine's memory; record fewer steps "
                          "(record_every) or run fewer runs");
  }
  double agentSteps = 0;
  for (std::int64_t k = 0; agentRows && k < plan.runs; ++k) {
    agentSteps += plan.Run(k).parameters[sweep::ParameterIndex("agents")] * double(plan.rowsPerRun);
  }
  if (agentRows && agentSteps * AgentRowBytes > half) {
    throw py::value_error("agent_rows: " + std::to_string(std::int64_t(agentSteps)) +
                          " agents' rows need more than half of this machine's memory; record fewer steps "
                          "(record_every) or run fewer runs");
  }
}

// The GIL for the pool's threads, which Python does not know: a thread makes its thread state at
// its first measure and keeps it until it ends, so a measure costs the lock, not a new state.
class WorkerGil {
 public:
  WorkerGil() {
    if (state_ == nullptr) {
      held_ = PyGILState_Ensure();
      state_ = PyThreadState_Get();
    } else {
      PyEval_RestoreThread(state_);
    }
  }
  ~WorkerGil() { PyEval_SaveThread(); }
  WorkerGil(const WorkerGil&) = delete;
  WorkerGil& operator=(const WorkerGil&) = delete;

  static void ThreadEnded() {
    if (state_ == nullptr) return;
    PyEval_RestoreThread(state_);
    PyGILState_Release(held_);  // the last release: the state goes, with the GIL
    state_ = nullptr;
  }

 private:
  static thread_local PyThreadState* state_;
  static thread_local PyGILState_STATE held_;
};

thread_local PyThreadState* WorkerGil::state_ = nullptr;
thread_local PyGILState_STATE WorkerGil::held_ = PyGILState_UNLOCKED;

// Where the workers write the CSV's columns: each column's values, eight bytes a row, and for a
// column that may be empty whether each row's is missing (nullptr for the others).
struct TableOut {
  std::vector<char*> values;
  std::vector<bool*> missing;
};

// A run's rows of the CSV's columns, written straight into the sweep's arrays; with `means`, the
// means of the per-step columns too.
class TableSink : public sweep::RunSink {
 public:
  TableSink(const sweep::RunPlan& run, const TableOut& out, std::size_t firstRow, bool means)
      : table_(sweep::Columns(means)),
        source_{&run, nullptr, nullptr, nullptr, std::nullopt},
        out_(out),
        firstRow_(firstRow),
        row_(firstRow) {
    if (means) means_.emplace();
  }

  void Stepped(const World& world) override {
    if (means_ && world.StepCount > 0) means_->Add(world);
  }

  void Recorded(const World& world, const StepMeasures& measures) override {
    source_.world = &world;
    source_.measures = &measures;
    source_.means = means_ ? &*means_ : nullptr;
    for (std::size_t k = 0; k < table_.size(); ++k) Put(k, row_, table_[k].Read(source_));
    if (means_) means_->Restart();
    ++row_;
  }

  // The stop step is known once the run settles, before its last row: the rows written get it
  // now, the last reads it.
  void Settled(const World&, std::int32_t stopStep) override {
    static const std::size_t column = sweep::ColumnIndex("stop_step");
    source_.stopStep = stopStep;
    const sweep::ColumnValue value = table_[column].Read(source_);
    for (std::size_t row = firstRow_; row < row_; ++row) Put(column, row, value);
  }

  std::size_t Rows() const { return row_ - firstRow_; }

 private:
  void Put(std::size_t k, std::size_t row, const sweep::ColumnValue& value) {
    // Eight bytes a value in every kind: int64 and uint64 from the whole number, or the double.
    const void* bytes = table_[k].kind == sweep::ColumnKind::Real ? static_cast<const void*>(&value.real)
                                                                 : static_cast<const void*>(&value.integer);
    std::memcpy(out_.values[k] + row * 8, bytes, 8);
    if (out_.missing[k] != nullptr) out_.missing[k][row] = value.missing;
  }

  const std::vector<sweep::Column>& table_;
  std::optional<sweep::StepMeans> means_;
  sweep::RowSource source_;
  const TableOut& out_;
  std::size_t firstRow_, row_;
};

// Runs that settled leave rows unused at the end of their blocks of `most` rows: each run's rows
// move up behind the run before, so the first rows of every array are the runs' in order.
// Returns their number.
std::size_t CloseUp(const std::vector<std::size_t>& rows, std::size_t most,
                    const std::vector<std::pair<char*, std::size_t>>& arrays) {
  std::size_t total = 0;
  for (std::size_t k = 0; k < rows.size(); total += rows[k++]) {
    if (total == k * most) continue;
    for (const auto& [data, bytes] : arrays) std::memmove(data + total * bytes, data + k * most * bytes, rows[k] * bytes);
  }
  return total;
}

double NumberOf(const py::object& value, const std::string& name) {
  if (value.is_none()) return std::numeric_limits<double>::quiet_NaN();
  if (!IsReal(value) && !IsBool(value)) {
    PyErr_SetString(PyExc_TypeError,
                    ("measure '" + name + "': expects a number or None; got " + TypeName(value)).c_str());
    throw py::error_already_set();
  }
  const double number = PyFloat_AsDouble(value.ptr());
  if (number == -1.0 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  return number;
}

// The first failure of a sweep: a Python exception (a measure's, Ctrl-C) or a worker's error.
class Failure {
 public:
  void Keep(py::error_already_set&& error) {
    std::lock_guard lock(mutex_);
    if (!failed_) python_ = std::move(error);
    failed_ = true;
  }
  void Keep(const std::string& message, bool outOfMemory) {
    std::lock_guard lock(mutex_);
    if (!failed_) {
      message_ = message;
      outOfMemory_ = outOfMemory;
    }
    failed_ = true;
  }
  bool Failed() {
    std::lock_guard lock(mutex_);
    return failed_;
  }
  // With the GIL held.
  void RaiseIfFailed() {
    if (!Failed()) return;
    if (python_) throw py::error_already_set(*python_);
    if (outOfMemory_) throw std::bad_alloc();
    throw std::runtime_error(message_);
  }

 private:
  std::mutex mutex_;
  bool failed_ = false;
  std::optional<py::error_already_set> python_;
  std::string message_;
  bool outOfMemory_ = false;
};

// The measures written in Python at a recorded step of one run, called with a view of it. With
// `keep`, a measure's exception is kept there and the run fails with its text, as a sweep to files
// fails; without, it goes on to the worker.
class PyRunMeasures : public sweep::RunMeasures {
 public:
  PyRunMeasures(const UserMeasures& user, std::shared_ptr<const sweep::RunWorld> model, const sweep::RunPlan& run,
                Failure* keep = nullptr)
      : user_(user), model_(std::move(model)), run_(run), keep_(keep) {}
  ~PyRunMeasures() override {
    const WorkerGil gil;  // the run's arrays may go with it
    arrays_.reset();
  }
  PyRunMeasures(const PyRunMeasures&) = delete;
  PyRunMeasures& operator=(const PyRunMeasures&) = delete;

  void Measure(const StepMeasures& measures, std::span<double> values) override {
    std::string raised;
    {
      // The measures' own lock before the GIL: a thread waiting for it holds no GIL.
      const std::lock_guard oneAtATime(user_.oneAtATime);
      const WorkerGil gil;
      std::size_t k = 0;
      try {
        const py::object view = py::cast(RunView(model_, run_, measures, arrays_));
        for (; k < user_.calls.size(); ++k) values[k] = NumberOf(user_.calls[k](view), user_.names[k]);
      } catch (py::error_already_set& e) {
        if (!keep_) throw;
        raised = "measure '" + (k < user_.names.size() ? user_.names[k] : user_.names[0]) + "' raised " +
                 py::str(e.type().attr("__name__")).cast<std::string>();
        keep_->Keep(std::move(e));
      }
    }
    if (!raised.empty()) throw std::runtime_error(raised);
  }

 private:
  const UserMeasures& user_;
  std::shared_ptr<const sweep::RunWorld> model_;
  sweep::RunPlan run_;
  Failure* keep_;
  std::shared_ptr<ArrayCache> arrays_ = std::make_shared<ArrayCache>();
};

// The measures of a sweep in memory, written into its arrays.
class MeasureSink : public sweep::RunSink {
 public:
  MeasureSink(const UserMeasures& user, std::shared_ptr<const sweep::RunWorld> model, const sweep::RunPlan& run,
              const std::vector<double*>& columns, std::size_t firstRow)
      : measures_(user, std::move(model), run), columns_(columns), values_(columns.size()), row_(firstRow) {}

  void Recorded(const World& /*world*/, const StepMeasures& measures) override {
    measures_.Measure(measures, values_);
    for (std::size_t k = 0; k < values_.size(); ++k) columns_[k][row_] = values_[k];
    ++row_;
  }

 private:
  PyRunMeasures measures_;
  const std::vector<double*>& columns_;
  std::vector<double> values_;
  std::size_t row_;
};

// The measures of a sweep to files: their values go into the CSV's rows, after the program's.
class FileMeasures : public sweep::MeasureMaker {
 public:
  explicit FileMeasures(const UserMeasures& user) : user_(user) {}
  std::unique_ptr<sweep::RunMeasures> ForRun(std::shared_ptr<const sweep::RunWorld> model,
                                             const sweep::RunPlan& run) override {
    return std::make_unique<PyRunMeasures>(user_, std::move(model), run, &failure);
  }
  void ThreadEnded() override { WorkerGil::ThreadEnded(); }

  Failure failure;  // a measure's exception, raised once the session has ended

 private:
  const UserMeasures& user_;
};

// Every agent's row at the recorded steps of one run.
struct AgentRows {
  std::vector<std::int32_t> step, agent, col, row, colour;
  std::vector<bool> satisfied;
};

class AgentSink : public sweep::RunSink {
 public:
  explicit AgentSink(AgentRows& rows) : rows_(rows) {}

  void Recorded(const World& world, const StepMeasures& /*measures*/) override {
    const std::vector<TAgent>& agents = world.Agents;
    for (std::size_t k = 0; k < agents.size(); ++k) {
      rows_.step.push_back(world.StepCount);
      rows_.agent.push_back(std::int32_t(k));
      rows_.col.push_back(agents[k].col);
      rows_.row.push_back(agents[k].row);
      rows_.colour.push_back(agents[k].colour);
      rows_.satisfied.push_back(agents[k].satisfied);
    }
  }

 private:
  AgentRows& rows_;
};

// The long table of agents' rows, run after run.
py::list AgentColumns(const std::vector<AgentRows>& runs, const Plan& plan) {
  std::size_t total = 0;
  for (const AgentRows& rows : runs) total += rows.step.size();
  py::array_t<std::int64_t> run(total), step(total), agent(total);
  py::array_t<std::int32_t> col(total), row(total), colour(total);
  py::array_t<bool> satisfied(total);
  struct Out {
    std::int64_t *run, *step, *agent;
    std::int32_t *col, *row, *colour;
    bool* satisfied;
  } out{run.mutable_data(), step.mutable_data(), agent.mutable_data(), col.mutable_data(),
        row.mutable_data(),  colour.mutable_data(), satisfied.mutable_data()};
  {
    py::gil_scoped_release release;
    std::size_t at = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
      const AgentRows& rows = runs[r];
      for (std::size_t k = 0; k < rows.step.size(); ++k, ++at) {
        out.run[at] = sweep::ShardRun(plan.request, std::int64_t(r));
        out.step[at] = rows.step[k];
        out.agent[at] = rows.agent[k];
        out.col[at] = rows.col[k];
        out.row[at] = rows.row[k];
        out.colour[at] = rows.colour[k];
        out.satisfied[at] = rows.satisfied[k];
      }
    }
  }
  py::list columns;
  for (const auto& [name, array] : {std::pair<const char*, py::array>{"run", run}, {"step", step}, {"agent", agent},
                                    {"col", col}, {"row", row}, {"colour", colour}, {"satisfied", satisfied}}) {
    columns.append(py::make_tuple(name, array));
  }
  return columns;
}

// A sweep with out=: the library's own session writes the command line's CSV, manifest and
// journal, on a thread of its own, while this one looks for Ctrl-C and reports progress.
py::dict RunToFiles(sweep::Request request, const UserMeasures& user, bool agentRows, const py::object& progress) {
  if (agentRows) {
    throw py::value_error("agent_rows: not with out=, whose CSV is the command line's; leave out= off to have them in memory");
  }
  // The measures' names go into the request: the CSV's header and the manifest name them, and a
  // resume is checked against them.
  request.measures = user.names;
  sweep::SweepPlan plan = Checked([&] { return sweep::PrepareSweep(request); });
  plan.program = "zelmora.sweep";
  std::optional<FileMeasures> measured;
  if (!user.names.empty()) plan.measures = &measured.emplace(user);
  // Drawn as zelmora-batch draws them; made before the session, whose writer draws the charts.
  std::unique_ptr<sweep::PictureMaker> pictures;
  if (plan.request.pictures.Any()) {
    py::gil_scoped_release release;
    pictures = MakeSweepPictures();
  }
  plan.resumeHint = [](const sweep::SweepPlan& p, std::int32_t jobs) {
    return "call zelmora.sweep with the same arguments and resume=True" +
           (jobs > 0 ? ", jobs=" + std::to_string(jobs) : std::string()) + " (master seed " +
           std::to_string(p.masterSeed) + ")";
  };
  const std::shared_ptr<sweep::SweepCounters> counters = plan.counters;
  std::ostringstream err;
  std::atomic<int> stop{0};
  int status = 0;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::optional<py::error_already_set> raised;
  const py::object steps =
      request.quietSteps != 0 ? py::object(py::none()) : py::int_(plan.runs * std::int64_t(request.steps));
  const auto report = [&] { progress(counters->runsDone.load(), plan.runs, counters->stepsDone.load(), steps); };
  {
    py::gil_scoped_release release;
    std::thread session([&] {
      try {
        status = sweep::ExecuteSweep(plan, pictures.get(), err, stop);
      } catch (const std::exception& e) {
        err << "zelmora.sweep: " << e.what() << "\n";
        status = sweep::ExitIoError;
      }
      std::lock_guard lock(mutex);
      done = true;
      ended.notify_one();
    });
    auto reported = std::chrono::steady_clock::now();
    while (true) {
      {
        std::unique_lock lock(mutex);
        if (ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) break;
      }
      const py::gil_scoped_acquire gil;
      try {
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        const auto now = std::chrono::steady_clock::now();
        if (!progress.is_none() && !raised && now - reported >= std::chrono::milliseconds(250)) {
          reported = now;
          report();
        }
      } catch (py::error_already_set& e) {
        if (!raised) raised = std::move(e);
        stop = SIGINT;
      }
    }
    session.join();
  }
  if (!raised && measured && measured->failure.Failed()) {
    // A measure's exception, after the session's words on what was kept and how to resume.
    py::module_::import("sys").attr("stderr").attr("write")(FileSystemText(err.str()));
    measured->failure.RaiseIfFailed();
  }
  if (raised) {
    // What was kept and how to resume, as the command line says it.
    py::module_::import("sys").attr("stderr").attr("write")(FileSystemText(err.str()));
    throw py::error_already_set(*raised);
  }
  if (status != 0) {
    std::string message = err.str();
    while (!message.empty() && message.back() == '\n') message.pop_back();
    Raise(PyExc_OSError, message);
  }
  if (!progress.is_none()) report();
  py::dict result;
  result["out"] = FileSystemText(plan.paths.csv);
  result["manifest"] = FileSystemText(plan.paths.manifest);
  result["journal"] = FileSystemText(plan.paths.journal);
  result["master_seed"] = plan.masterSeed;
  result["runs"] = plan.runs;
  return result;
}

py::dict RunSweep(const py::dict& keywords, const py::dict& measures, bool agentRows, const py::object& progress) {
  if (!progress.is_none() && !PyCallable_Check(progress.ptr())) {
    throw py::type_error("progress: expects a function (runs_done, runs, steps_done, steps), True or None; got " +
                         TypeName(progress));
  }
  const sweep::Request request = Checked([&] { return RequestFrom(keywords); });
  if (request.out.empty() && request.pictures.Any()) {
    const sweep::Pictures& p = request.pictures;
    const char* given = p.charts ? "charts" : !p.snapshotAt.empty() ? "snapshot_at" : p.snapshotEvery ? "snapshot_every" : "video";
    throw py::value_error(std::string(given) + ": only with out=: the pictures are files beside the sweep's CSV");
  }
  UserMeasures user;
  MeasuresFrom(measures, request.means, user);
  if (!request.out.empty()) return RunToFiles(request, user, agentRows, progress);
  const Plan plan = PlanSweep(request);
  const sweep::RunLength length{request.steps, request.recordEvery, request.quietSteps};
  const std::vector<sweep::Column>& table = sweep::Columns(request.means);
  CheckMemory(plan, table.size() + user.names.size(), agentRows);

  // The result's arrays, made before the workers start, which write their rows in place: a column
  // that may be empty as (name, values, missing), the others as (name, values).
  const auto rows = py::ssize_t(std::size_t(plan.runs) * plan.rowsPerRun);
  py::list columns;
  std::vector<py::array> arrays;
  TableOut tableOut;
  std::vector<double*> measureOut;
  for (const sweep::Column& column : table) {
    py::array values(DtypeOf(column.kind), std::vector<py::ssize_t>{rows});
    tableOut.values.push_back(static_cast<char*>(values.mutable_data()));
    arrays.push_back(values);
    tableOut.missing.push_back(nullptr);
    if (column.kind != sweep::ColumnKind::IntegerOrEmpty) {
      columns.append(py::make_tuple(column.name, values));
      continue;
    }
    py::array_t<bool> missing(rows);
    tableOut.missing.back() = missing.mutable_data();
    arrays.push_back(missing);
    columns.append(py::make_tuple(column.name, values, missing));
  }
  for (const std::string& name : user.names) {
    py::array_t<double> array(rows);
    measureOut.push_back(array.mutable_data());
    arrays.push_back(array);
    columns.append(py::make_tuple(name, array));
  }
  std::vector<std::pair<char*, std::size_t>> memory;
  for (py::array& array : arrays) memory.emplace_back(static_cast<char*>(array.mutable_data()), array.itemsize());
  std::vector<std::size_t> rowsOfRun(std::size_t(plan.runs));
  std::vector<AgentRows> agentData(agentRows ? std::size_t(plan.runs) : 0);

  Failure failure;
  std::atomic<std::int64_t> stepsDone{0};
  std::atomic<std::size_t> runsDone{0};
  // Runs that settle end early: their steps are not known before, so none are given.
  const py::object steps = plan.request.quietSteps != 0 ? py::object(py::none())
                                                     : py::int_(plan.runs * plan.request.steps);
  const auto report = [&] {
    progress(runsDone.load(), plan.runs, stepsDone.load(), steps);
  };
  const std::size_t jobs = std::min<std::size_t>(std::size_t(plan.request.jobs), std::size_t(plan.runs));
  std::mutex mutex;
  std::condition_variable ended;
  std::size_t threadsLeft = jobs;
  {
    py::gil_scoped_release release;
    // Declared after everything its tasks read, so it is stopped and joined before they go.
    sweep::WorkerPool pool(
        jobs, std::size_t(plan.runs),
        [&](std::size_t k) {
          try {
            const sweep::RunPlan run = plan.Run(std::int64_t(k));
            const std::size_t firstRow = k * plan.rowsPerRun;
            const auto model = std::make_shared<sweep::RunWorld>(run);
            TableSink tableRows(run, tableOut, firstRow, plan.request.means);
            std::vector<sweep::RunSink*> sinks = {&tableRows};
            std::optional<MeasureSink> measured;
            if (!user.calls.empty()) sinks.push_back(&measured.emplace(user, model, run, measureOut, firstRow));
            std::optional<AgentSink> agents;
            if (agentRows) sinks.push_back(&agents.emplace(agentData[k]));
            if (sweep::RunModel(length, *model, sinks, pool.Stopping(), stepsDone)) ++runsDone;
            rowsOfRun[k] = tableRows.Rows();
          } catch (py::error_already_set& e) {
            failure.Keep(std::move(e));
            pool.Stop();
          } catch (const std::bad_alloc&) {
            failure.Keep("out of memory", true);
            pool.Stop();
          } catch (const std::exception& e) {
            failure.Keep(e.what(), false);
            pool.Stop();
          }
        },
        [&] {
          WorkerGil::ThreadEnded();
          std::lock_guard lock(mutex);
          --threadsLeft;
          ended.notify_one();
        });
    // This thread looks for Ctrl-C and reports progress while the workers run.
    auto reported = std::chrono::steady_clock::now();
    while (true) {
      {
        std::unique_lock lock(mutex);
        if (ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return threadsLeft == 0; })) break;
      }
      const py::gil_scoped_acquire gil;
      try {
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        const auto now = std::chrono::steady_clock::now();
        if (!progress.is_none() && !failure.Failed() && now - reported >= std::chrono::milliseconds(250)) {
          reported = now;
          report();
        }
      } catch (py::error_already_set& e) {
        failure.Keep(std::move(e));
        pool.Stop();
      }
    }
    pool.Join();
  }
  failure.RaiseIfFailed();
  if (!progress.is_none()) report();
  if (plan.request.quietSteps != 0) {
    std::size_t total = 0;
    {
      py::gil_scoped_release release;
      total = CloseUp(rowsOfRun, plan.rowsPerRun, memory);
    }
    // Nothing else sees the arrays yet, so they may move as they shrink.
    for (py::array& array : arrays) array.resize({py::ssize_t(total)}, false);
  }

  // A choice's column is written as its places, read as its names.
  for (std::size_t k = 0; k < table.size(); ++k) {
    if (table[k].kind != sweep::ColumnKind::Text) continue;
    const py::tuple written = columns[k];
    columns[k] = py::make_tuple(written[0], TextArray(table[k], written[1]));
  }
  py::dict result;
  result["columns"] = columns;
  result["agents"] = agentRows ? py::object(AgentColumns(agentData, plan)) : py::none();
  result["master_seed"] = plan.masterSeed;
  return result;
}

void DefineRunView(py::module_& m) {
  py::class_<RunView> view(m, "RunView", R"(A run's World at a recorded step of zelmora.sweep, as a measure sees it.

Read-only: the state arrays and counters of zelmora.World, by the same names (occupied,
local_price, agent_col, ..., step_count, agent_count, grid), the run's index and seed
(run, seed), its parameters as attributes and parameters(), and measures(), the CSV's row
of this step as a dict. Arrays are copies of the run's World made at their first read, as
a World's are: read during the measure's call, they keep the recorded step's values.)");
  DefineStateArrays(view);
  view.def_property_readonly(
      "run", [](const RunView& v) { return v.Run().index; }, "The run's index in the sweep.");
  view.def_property_readonly(
      "seed", [](const RunView& v) { return v.Run().seed; },
      "The run's seed: zelmora.World(seed=v.seed, ...) with its parameters replays the run.");
  for (std::size_t k = 0; k < sweep::ParameterCount; ++k) {
    view.def_property_readonly(
        sweep::Parameters[k].name.data(), [k](const RunView& v) { return ParameterObject(k, v.Run().parameters[k]); },
        ParameterDoc(k).c_str());
  }
  view.def(
      "parameters", [](const RunView& v) { return ParameterDict(v.Run().parameters); },
      "parameters()\n\nThe run's parameters as a dict, name: value.");
  view.def(
      "measures",
      [](const RunView& v) {
        const World& world = v.Model();
        const sweep::RowSource source{&v.Run(), &world, &v.Measures(), nullptr, std::nullopt};
        return ColumnsDict(source, true);
      },
      "measures()\n\nThe CSV's row of the recorded step as a dict, keyed by its columns: what\n"
      "zelmora-batch records, computed once for every measure.");
  view.def("__repr__", [](const RunView& v) {
    return "<zelmora.RunView of run " + std::to_string(v.Run().index) + " at step " +
           std::to_string(v.Model().StepCount) + ">";
  });
}

}  // namespace

void DefineSweep(py::module_& m) {
  DefineRunView(m);
  m.def(
      "parameters",
      [] {
        py::list rows;
        for (std::size_t k = 0; k < sweep::ParameterCount; ++k) {
          const sweep::ParameterRow& row = sweep::Parameters[k];
          rows.append(py::make_tuple(std::string(row.name), sweep::KindName(row.kind), sweep::RangeText(k),
                                     sweep::DefaultText(k), std::string(row.unit), std::string(row.description)));
        }
        return rows;
      },
      "parameters(): used by zelmora.parameters, which documents it.");
  m.def(
      "merge",
      [](const py::list& paths) {
        std::vector<std::string> args;
        for (const py::handle path : paths) args.push_back(path.cast<std::string>());
        // What merge mends (a shard's damaged journal line) is said on Python's stderr.
        std::ostringstream notes;
        try {
          Checked([&] {
            sweep::MergeShards(args, notes);
            return 0;
          });
        } catch (const sweep::IoError& e) {
          Raise(PyExc_OSError, e.what());
        }
        if (!notes.str().empty()) py::module_::import("sys").attr("stderr").attr("write")(notes.str());
      },
      py::arg("args"), "merge(args): used by zelmora.merge, which documents it.");
  m.def("sweep", &RunSweep, py::arg("keywords"), py::arg("measures"), py::arg("agent_rows"), py::arg("progress"),
        "sweep(keywords, measures, agent_rows, progress): used by zelmora.sweep, which documents it.");
  m.def(
      "columns",
      [](bool means) {
        py::list columns;
        for (const sweep::Column& c : sweep::Columns(means)) {
          columns.append(py::make_tuple(c.name, sweep::KindName(c.kind), c.perRun, c.description));
        }
        return columns;
      },
      py::arg("means"), "columns(means): used by zelmora.columns, which documents it.");
}

}  // namespace zelmora::python
