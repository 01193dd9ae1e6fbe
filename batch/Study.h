#pragma once

#include <string>
#include <vector>

namespace zelmora::batch {

// `summary FILE.csv [--by P,...] [--at every|last|STEP] [--measures M,...] [--out OUT.csv]`: the
// means and 95 % intervals of a sweep's measures per point (docs/EXPERIMENTS.md). `args` are
// those after "summary"; the command line whole is kept in the summary's manifest. Prints how
// many runs of how many it read. Throws UsageError, RequestError (worded by StudyWorded) or IoError.
int SummaryCommand(const std::vector<std::string>& args, const std::vector<std::string>& commandLine);

// `plot FILE.csv --x P|step --y MEASURE [--by P] [--at ...] --out FIG.png|FIG.svg`: the plot of the same
// means and intervals, drawn by the chart control. Needs the QApplication made.
int PlotCommand(const std::vector<std::string>& args);

}  // namespace zelmora::batch
