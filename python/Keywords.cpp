#include "python/Keywords.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "python/Parameters.h"

namespace zelmora::python {
namespace {

// How a keyword's value is spelled on the command line. The model's parameters are spelled as the
// World spells them (its parameter table); a new option is one row below and one keyword in
// zelmora.sweep's signature. A design comes as its CSV's text, which zelmora.sweep writes from a
// DataFrame; the command line then names it only.
enum class Spelling { Grid, Whole, Text, Sets, Design };

struct Keyword {
  const char* name;
  Spelling spelling;
};

constexpr Keyword Keywords[] = {
    {"grid", Spelling::Grid},    {"steps", Spelling::Whole}, {"record_every", Spelling::Whole},
    {"repeats", Spelling::Whole}, {"seed", Spelling::Whole},  {"jobs", Spelling::Whole},
    {"until", Spelling::Text},   {"set", Spelling::Sets},      {"design", Spelling::Design},
};

// What a design is called in messages: "design DataFrame: row 2 (line 3), column 'threshold': ...".
constexpr const char* DesignName = "DataFrame";

std::string Dashed(std::string name) {
  std::replace(name.begin(), name.end(), '_', '-');
  return name;
}

std::string Text(py::handle value, const std::string& name) {
  if (!py::isinstance<py::str>(value)) throw py::type_error(name + ": expects a str; got " + TypeName(value));
  return py::str(value);
}

std::string GridText(py::handle grid) {
  if (!(py::isinstance<py::tuple>(grid) || py::isinstance<py::list>(grid)) || py::len(grid) != 2) {
    throw py::type_error("grid: expects (cols, rows), a pair of whole numbers; got " + TypeName(grid));
  }
  const py::sequence pair = py::reinterpret_borrow<py::sequence>(grid);
  return WholeText(pair[0], "grid") + "x" + WholeText(pair[1], "grid");
}

// One value of a varied parameter; a name that is no parameter is left for the batch's check.
std::string SetValueText(const std::string& name, py::handle value) {
  const auto text = ParameterText(name, value, "set " + name);
  return text ? *text : std::string(py::str(value));
}

// `set={"name": values}` as --set options: values are a list, tuple, range or array, one value, or
// the command line's own text ("1:7:1", "0.9,1,1.1").
void AddSets(py::handle sets, std::vector<std::string>& args) {
  if (!py::isinstance<py::dict>(sets)) {
    throw py::type_error("set: expects a dict of parameter names and their values; got " + TypeName(sets));
  }
  for (const auto& [key, values] : py::reinterpret_borrow<py::dict>(sets)) {
    if (!py::isinstance<py::str>(key)) throw py::type_error("set: names are strings; got " + TypeName(key));
    const std::string name = py::str(key);
    std::string list;
    if (py::isinstance<py::str>(values)) {
      list = py::str(values);
    } else if (py::hasattr(values, "__iter__")) {
      for (const py::handle value : values) list += (list.empty() ? "" : ",") + SetValueText(name, value);
    } else {
      list = SetValueText(name, values);
    }
    args.push_back("--set");
    args.push_back(Dashed(name) + "=" + list);
  }
}

}  // namespace

std::string KeywordMessage(const std::string& message) {
  // Words of letters joined by dashes are options or parameters: their dashes become underscores,
  // and an option's leading "--" goes.
  std::string out;
  for (std::size_t k = 0; k < message.size();) {
    const bool option = message.compare(k, 2, "--") == 0 && k + 2 < message.size() && std::islower(message[k + 2]);
    const bool wordStart = std::islower(message[k]) && (k == 0 || !std::isalnum(message[k - 1]));
    if (!option && !wordStart) {
      out += message[k++];
      continue;
    }
    if (option) k += 2;
    for (; k < message.size() && (std::islower(message[k]) || message[k] == '-'); ++k) {
      const bool joins = message[k] == '-' && k + 1 < message.size() && std::islower(message[k + 1]);
      out += joins ? '_' : message[k];
    }
  }
  return out;
}

batch::Options SweepOptions(const py::dict& keywords) {
  // The command line's required output, which a sweep from Python never writes.
  std::vector<std::string> args = {"zelmora.sweep", "--out", "zelmora.sweep.csv", "--quiet"};
  std::optional<std::string> design;
  for (const auto& [key, value] : keywords) {
    const std::string name = py::str(key);
    if (value.is_none()) continue;
    const auto* keyword = std::find_if(std::begin(Keywords), std::end(Keywords),
                                       [&](const Keyword& k) { return name == k.name; });
    if (keyword != std::end(Keywords) && keyword->spelling == Spelling::Sets) {
      AddSets(value, args);
      continue;
    }
    if (keyword != std::end(Keywords) && keyword->spelling == Spelling::Design) {
      design = Text(value, name);
      args.insert(args.end(), {"--design", DesignName});
      continue;
    }
    std::string text;
    if (keyword == std::end(Keywords)) {
      const auto parameter = ParameterText(name, value, name);
      if (!parameter || !batch::KnobNamed(Dashed(name))) {
        throw py::type_error("sweep: unknown keyword '" + name + "'");
      }
      text = *parameter;
    } else {
      text = keyword->spelling == Spelling::Grid   ? GridText(value)
             : keyword->spelling == Spelling::Text ? Text(value, name)
                                                   : WholeText(value, name);
    }
    args.push_back("--" + Dashed(name));
    args.push_back(text);
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  try {
    std::string help;
    return batch::ParseCommandLine(int(argv.size()), argv.data(), help, design).value();
  } catch (const batch::UsageError& e) {
    throw py::value_error(KeywordMessage(e.what()));
  }
}

}  // namespace zelmora::python
