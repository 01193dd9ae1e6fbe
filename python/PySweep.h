#pragma once

#include <pybind11/pybind11.h>

namespace zelmora::python {

namespace py = pybind11;

// zelmora._core's sweeps: sweep(keywords, measures, agent_rows, progress), columns() and the class
// RunView that measures written in Python are handed.
//
// sweep runs the sweep the keywords describe (SweepOptions) on the batch program's worker pool, with
// the GIL released but while a measure written in Python runs, and returns a dict: "columns", a
// list of (name, NumPy array) pairs, the CSV's columns and then one per measure; "agents", the same
// for every agent's row at the recorded steps when agent_rows is true (else None); and
// "master_seed". `measures` maps a column's name to a callable called with a RunView at every
// recorded step; `progress` (or None) is called on the calling thread about four times a second
// and at the end with (runs_done, runs, steps_done, steps). A Python exception raised by a measure
// or by progress, or Ctrl-C, stops every worker between two steps and is raised once they have all
// ended.
void DefineSweep(py::module_& module);

}  // namespace zelmora::python
