#include "batch/Study.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <CLI/CLI.hpp>
#include <iostream>

#include "batch/Options.h"
#include "render/SweepPlot.h"
#include "sweep/Output.h"
#include "sweep/Summary.h"

namespace zelmora::batch {
namespace {

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    parts.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return parts;
}

// Parses the arguments; returns false after printing --help.
bool Parse(CLI::App& app, std::vector<std::string> args) {
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return false;
  } catch (const CLI::ParseError& e) {
    throw UsageError(app.get_name() + ": " + e.what());
  }
  return true;
}

sweep::SummaryAt At(const std::string& text) {
  const auto at = sweep::ParseAt(text);
  if (!at) throw UsageError("--at: expects every, last or a step (a whole number); got '" + text + "'");
  return *at;
}

void Tell(const sweep::Summary& s) {
  std::cerr << "zelmora-batch: " << s.runsRead << " of " << s.runsInSweep << " runs";
  if (s.status != "complete") std::cerr << " (the sweep is " << s.status << ")";
  std::cerr << "\n";
}

}  // namespace

int SummaryCommand(const std::vector<std::string>& args, const std::vector<std::string>& commandLine) {
  CLI::App app("The mean, standard deviation, 95 % interval of the mean (Student's t), least and greatest of a "
               "sweep's measures over its runs, per point and step",
               "summary");
  std::string file, by, at = "every", measures, out;
  bool byGiven = false;
  app.add_option("FILE", file, "the sweep's CSV (or its manifest), complete, running or interrupted")->required();
  app.add_option("--by", by,
                 "the parameters whose values make a point, comma-separated [default: those the sweep varies]")
      ->type_name("P1,P2,...");
  app.add_option("--at", at, "the rows read: every recorded step, each run's last row, or one step")
      ->type_name("every|last|STEP")->capture_default_str();
  app.add_option("--measures", measures, "the measures summarised [default: every numeric measure]")
      ->type_name("M1,M2,...");
  app.add_option("--out", out, "the summary's CSV; its manifest is OUT.json [default: FILE.summary.csv]")
      ->type_name("OUT.csv");
  if (!Parse(app, args)) return 0;
  byGiven = app.count("--by") > 0;
  sweep::SummaryRequest request{file, {}, At(at), {}, byGiven};
  if (byGiven && !by.empty()) request.by = Split(by);
  if (!measures.empty()) request.measures = Split(measures);
  if (out.empty()) {
    const std::string stem = file.size() > 5 && (file.ends_with(".csv") || file.ends_with(".json"))
                                 ? file.substr(0, file.rfind('.'))
                                 : file;
    out = stem + ".summary.csv";
  }
  const sweep::Summary summary = sweep::Summarise(request);
  sweep::WriteSummary(summary, out, commandLine);
  Tell(summary);
  return 0;
}

int PlotCommand(const std::vector<std::string>& args) {
  CLI::App app("A plot of a sweep's measure: the mean over the runs with its 95 % interval, drawn by the chart "
               "control",
               "plot");
  std::string file, x, y, by, at = "every", out;
  app.add_option("FILE", file, "the sweep's CSV (or its manifest), complete, running or interrupted")->required();
  app.add_option("--x", x, "the x axis: a parameter (error bars) or step (a band)")->type_name("P|step")->required();
  app.add_option("--y", y, "the measure on the y axis")->type_name("MEASURE")->required();
  app.add_option("--by", by, "one line per value of this parameter, with a legend")->type_name("P");
  app.add_option("--at", at, "with a parameter on x: the rows read, each run's last or one step")
      ->type_name("every|last|STEP")->capture_default_str();
  app.add_option("--out", out, "the picture, 800 x 480: a PNG, or an SVG whose lines scale (name ending in .png or .svg)")
      ->type_name("FIG.png|FIG.svg")
      ->required();
  if (!Parse(app, args)) return 0;
  if (!out.ends_with(".png") && !out.ends_with(".svg")) {
    throw UsageError("--out: expects a name ending in .png or .svg; got '" + out + "'");
  }
  sweep::PlotRequest request{file, x, y, std::nullopt, At(at)};
  if (!by.empty()) request.by = by;
  if (x != "step" && at == "every" && app.count("--at") == 0) request.at = {sweep::SummaryAt::Kind::Last, 0};
  const sweep::Summary summary = sweep::PlotSummary(request);
  const sweep::PlotData plot = sweep::PlotOf(request, summary);
  if (out.ends_with(".svg")) {
    sweep::WriteWhole(out, SweepPlotSvg(plot));
    Tell(summary);
    return 0;
  }
  const QImage image = DrawSweepPlot(plot);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) throw sweep::IoError(out, "the picture cannot be encoded");
  sweep::WriteWhole(out, std::string_view(bytes.constData(), std::size_t(bytes.size())));
  Tell(summary);
  return 0;
}

}  // namespace zelmora::batch
