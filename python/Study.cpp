#include "python/Study.h"

#include <pybind11/stl.h>

#include "python/Parameters.h"
#include "sweep/Manifest.h"
#include "sweep/Output.h"
#include "sweep/Summary.h"

namespace zelmora::python {
namespace {

sweep::SummaryAt AtFrom(py::handle at) {
  const std::string text = py::str(at);
  const auto parsed = sweep::ParseAt(text);
  if (!parsed)
    throw py::value_error("at: expects \"every\", \"last\" or a step (int); got " + std::string(py::repr(at)));
  return *parsed;
}

template <class F>
auto Checked(F&& f) {
  try {
    return f();
  } catch (const sweep::RequestError& e) {
    // The file is the function's path argument.
    if (e.name == "file")
      throw py::value_error("path: " + e.reason + (e.value.empty() ? "" : "; got '" + e.value + "'"));
    throw py::value_error(Worded(e));
  } catch (const sweep::IoError& e) {
    throw py::value_error(e.what());
  }
}

py::dict Read(const sweep::Summary& s) {
  py::dict read;
  read["runs_read"] = s.runsRead;
  read["runs"] = s.runsInSweep;
  read["status"] = s.status;
  return read;
}

}  // namespace

void DefineStudy(py::module_& m) {
  m.def(
      "summary",
      [](const std::string& path, const py::object& by, const py::object& at, const std::vector<std::string>& measures,
         const py::object& out) {
        sweep::SummaryRequest request{path, {}, AtFrom(at), measures, !by.is_none()};
        if (!by.is_none()) request.by = by.cast<std::vector<std::string>>();
        return Checked([&] {
          const sweep::Summary summary = sweep::Summarise(request);
          if (!out.is_none()) sweep::WriteSummary(summary, py::str(out), {"zelmora.summary", path});
          py::dict result = Read(summary);
          result["csv"] = sweep::SummaryCsv(summary);
          return result;
        });
      },
      py::arg("path"), py::arg("by"), py::arg("at"), py::arg("measures"), py::arg("out"),
      "summary(path, by, at, measures, out): used by zelmora.summary, which documents it.");
  m.def(
      "plot_data",
      [](const std::string& path, const std::string& x, const std::string& y, const py::object& by,
         const py::object& at) {
        sweep::PlotRequest request{path, x, y, std::nullopt, AtFrom(at)};
        if (!by.is_none()) request.by = py::str(by);
        return Checked([&] {
          const sweep::Summary summary = sweep::PlotSummary(request);
          const sweep::PlotData plot = sweep::PlotOf(request, summary);
          py::list series;
          for (const sweep::PlotSeries& s : plot.series) {
            series.append(py::make_tuple(s.legend, s.x, s.mean, s.low, s.high));
          }
          py::dict result = Read(summary);
          result["x_title"] = plot.xTitle;
          result["y_title"] = plot.yTitle;
          result["over_steps"] = plot.overSteps;
          result["series"] = series;
          return result;
        });
      },
      py::arg("path"), py::arg("x"), py::arg("y"), py::arg("by"), py::arg("at"),
      "plot_data(path, x, y, by, at): used by zelmora.plot, which documents it.");
  m.def(
      "run_of",
      [](const std::string& manifestPath, std::int64_t index) {
        return Checked([&] {
          const sweep::Manifest manifest = sweep::ReadManifest("manifest", manifestPath);
          const std::int64_t size = sweep::SweepSize(manifest.request);
          if (index < 0 || index >= size) {
            throw py::value_error("run: expects a run of the sweep, 0 to " + std::to_string(size - 1) + "; got " +
                                  std::to_string(index));
          }
          const std::uint64_t master = manifest.header["master_seed"].get<std::uint64_t>();
          const sweep::RunPlan run = sweep::RunAt(manifest.request, master, index);
          // Each fact once, by the name that holds it whole (a threshold of 40 % is 3.2 eighths).
          py::dict parameters;
          for (std::size_t k = 0; k < sweep::ParameterCount; ++k) {
            if (sweep::Parameters[k].reach == sweep::Reach::Grid) continue;
            const std::size_t fact = sweep::FactOf(k);
            const bool whole = sweep::InRange(fact, run.parameters[fact]);
            if (k == fact ? whole : !whole) {
              parameters[py::str(std::string(sweep::Parameters[k].name))] = ParameterObject(k, run.parameters[k]);
            }
          }
          const py::tuple grid = py::make_tuple(std::int64_t(run.parameters[sweep::ParameterIndex("grid_cols")]),
                                                std::int64_t(run.parameters[sweep::ParameterIndex("grid_rows")]));
          return py::make_tuple(grid, run.seed, parameters);
        });
      },
      py::arg("manifest"), py::arg("run"), "run_of(manifest, run): used by zelmora.World.from_run.");
}

}  // namespace zelmora::python
