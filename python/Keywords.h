#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "batch/Options.h"

namespace zelmora::python {

namespace py = pybind11;

// The batch Options of zelmora.sweep's keyword arguments: the one place where a keyword meets its
// option of zelmora-batch. Each value is spelled as the command line spells it and parsed by the
// batch program's own parser, so a sweep from Python takes what zelmora-batch takes, with its
// defaults, and refuses what it refuses with its words: ValueError for a value, TypeError for a
// value of the wrong type, each naming the keyword. A keyword whose value is None is left out.
batch::Options SweepOptions(const py::dict& keywords);

// zelmora-batch's message with the keywords' names: "--record-every: ..." as "record_every: ...",
// "--set returns-to-scale: ..." as "set returns_to_scale: ...".
std::string KeywordMessage(const std::string& message);

}  // namespace zelmora::python
