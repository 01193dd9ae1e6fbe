#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sweep/Request.h"

namespace zelmora::batch {

// A command line that cannot run: one line naming the option and what it accepts. The program
// prints it and exits with status 2 before it creates or changes any file.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command line as a request, each value read once: a parameter's option and --set's names come
// from the parameter table (with dashes or underscores), --grid COLSxROWS gives both of the grid's.
// Throws UsageError (one line) on anything wrong, an empty value included; returns nothing for
// --help, --version and --parameters, whose text it puts in `text`. The request's own checks
// (Validate) are PrepareSweep's.
std::optional<sweep::Request> ParseCommandLine(int argc, const char* const* argv, std::string& text);

// A request's error in the command line's words: a field or parameter as its option (--steps,
// --threshold), a list as --set NAME, a design's cell as --design FILE: row R (line L), column 'C'.
std::string Worded(const sweep::RequestError& error, const std::string& designFile);

// The command line that runs `request` again with its master seed, its parameters as options
// (those at their defaults left out), lists as --set, its design's file (a replay's: --from and
// --runs), and --resume; `jobs` > 0 replaces its threads. Parsed, it gives the same request.
std::vector<std::string> ResumeArguments(const sweep::Request& request, std::uint64_t masterSeed, std::int32_t jobs);

// Arguments as one shell command line, each quoted where a shell would read it otherwise.
std::string ShellCommand(const std::vector<std::string>& args);

// What --parameters prints: a header line, then each parameter of the table on a line of its own,
// fields separated by tabs: name, kind, range, default, unit, description.
std::string ParameterListing();

}  // namespace zelmora::batch
