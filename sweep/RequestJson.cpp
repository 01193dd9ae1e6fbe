#include "sweep/RequestJson.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ostream>
#include <streambuf>

namespace zelmora::sweep {
namespace {

using json = nlohmann::json;
using Source = RequestError::Source;

const char* const Videos[] = {"off", "mp4", "gif"};

bool IsUtf8(std::string_view text) {
  for (std::size_t k = 0; k < text.size();) {
    const auto c = std::uint8_t(text[k]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || k + n > text.size()) return false;
    for (std::size_t j = 1; j < n; ++j) {
      if ((std::uint8_t(text[k + j]) >> 6) != 0x2) return false;
    }
    // No overlong forms, surrogates or code points past U+10FFFF: what a JSON reader refuses.
    const std::uint32_t second = std::uint8_t(n > 1 ? text[k + 1] : 0);
    if ((n == 2 && c < 0xC2) || (n == 3 && c == 0xE0 && second < 0xA0) || (n == 3 && c == 0xED && second >= 0xA0) ||
        (n == 4 && c == 0xF0 && second < 0x90) || (n == 4 && (c > 0xF4 || (c == 0xF4 && second >= 0x90)))) {
      return false;
    }
    k += n;
  }
  return true;
}

json ValueJson(std::size_t parameter, double value) {
  switch (Parameters[parameter].kind) {
    case ParameterKind::Integer: return std::int64_t(value);
    case ParameterKind::Real: return value + 0.0;
    case ParameterKind::Switch: return value != 0;
    case ParameterKind::Choice: return ValueText(parameter, value);
  }
  return nullptr;
}

double ValueFrom(std::size_t parameter, const json& j, const std::string& field) {
  const ParameterRow& row = Parameters[parameter];
  switch (row.kind) {
    case ParameterKind::Integer:
      if (j.is_number_integer()) return double(j.get<std::int64_t>());
      throw DamagedJson(field, "a whole number");
    case ParameterKind::Real:
      if (j.is_number()) return j.get<double>();
      throw DamagedJson(field, "a number");
    case ParameterKind::Switch:
      if (j.is_boolean()) return j.get<bool>() ? 1 : 0;
      throw DamagedJson(field, "true or false");
    case ParameterKind::Choice:
      if (j.is_string()) {
        if (const auto value = ParseValue(parameter, j.get<std::string>())) return *value;
      }
      throw DamagedJson(field, "one of " + RangeText(parameter));
  }
  throw DamagedJson(field, "a value");
}

const json& At(const json& j, const char* key, const std::string& field) {
  if (!j.is_object() || !j.contains(key)) throw DamagedJson(field + key, "there");
  return j[key];
}

template <class T>
T Whole(const json& j, const char* key, const std::string& field) {
  const json& value = At(j, key, field);
  if (!value.is_number_integer()) throw DamagedJson(field + key, "a whole number");
  const auto whole = value.get<std::int64_t>();
  if constexpr (std::is_unsigned_v<T>) {
    if (value.is_number_unsigned()) return value.get<T>();
    throw DamagedJson(field + key, "a whole number from 0");
  } else {
    if (whole < std::int64_t(std::numeric_limits<T>::min()) || whole > std::int64_t(std::numeric_limits<T>::max())) {
      throw DamagedJson(field + key, "a whole number in range");
    }
    return T(whole);
  }
}

std::string Text(const json& j, const char* key, const std::string& field) {
  const json& value = At(j, key, field);
  if (!value.is_string()) throw DamagedJson(field + key, "a string");
  return value.get<std::string>();
}

std::size_t ParameterFrom(const json& name, const std::string& field) {
  if (name.is_string()) {
    if (const auto k = FindParameter(name.get<std::string>())) return *k;
  }
  throw DamagedJson(field, "a parameter's name");
}

json AxisJson(const Axis& axis) {
  json j = {{"name", Parameters[axis.parameter].name}};
  if (axis.IsProgression()) {
    j["range"] = axis.RangeText();
  } else {
    json values = json::array();
    for (const double value : axis.listed) values.push_back(ValueJson(axis.parameter, value));
    j["values"] = std::move(values);
  }
  return j;
}

Axis AxisFrom(const json& j, const std::string& field) {
  const std::size_t parameter = ParameterFrom(At(j, "name", field), field + "name");
  if (j.contains("range")) {
    try {
      return ParseAxis(parameter, Text(j, "range", field));
    } catch (const RequestError&) {
      throw DamagedJson(field + "range", "a range start:stop:step");
    }
  }
  const json& values = At(j, "values", field);
  if (!values.is_array()) throw DamagedJson(field + "values", "a list");
  std::vector<double> listed;
  listed.reserve(values.size());
  for (std::size_t k = 0; k < values.size(); ++k) {
    listed.push_back(ValueFrom(parameter, values[k], field + "values[" + std::to_string(k) + "]"));
  }
  return Axis::Listed(parameter, std::move(listed));
}

// A design value as the points' text writes it: whole numbers in digits, reals in the shortest text
// that reads back (1e+06 where that is shorter), switches as 1 or 0, choices by name; so the text
// is no longer than the file's values were.
void AppendValue(std::string& out, std::size_t parameter, double value) {
  char buffer[32];
  std::to_chars_result written{buffer, {}};
  switch (Parameters[parameter].kind) {
    case ParameterKind::Integer: written = std::to_chars(buffer, buffer + sizeof buffer, std::int64_t(value)); break;
    case ParameterKind::Real: written = std::to_chars(buffer, buffer + sizeof buffer, value + 0.0); break;
    case ParameterKind::Switch: *written.ptr++ = value != 0 ? '1' : '0'; break;
    case ParameterKind::Choice: out += ValueText(parameter, value); return;
  }
  out.append(buffer, written.ptr);
}

// The design's points as one text, points apart by ';' and values by ',' (neither needs escaping
// in JSON, so a manifest holds the points in about the bytes of the file they came from), handed
// to `take` a point at a time.
template <class Take>
void PointsText(const Design& d, Take take) {
  std::string point;
  for (std::int64_t p = 0; p < d.points; ++p) {
    point.clear();
    if (p > 0) point += ';';
    for (std::size_t c = 0; c < d.columns.size(); ++c) {
      if (c > 0) point += ',';
      AppendValue(point, d.columns[c], d.At(p, c));
    }
    take(std::string_view(point));
  }
}

// 64-bit FNV-1a, taken in pieces.
struct Fnv {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  void Add(std::string_view bytes) {
    for (const char c : bytes) hash = (hash ^ std::uint8_t(c)) * 0x100000001b3ULL;
  }
  std::string Hex() const {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
  }
};

json DesignColumns(const Design& d) {
  json columns = json::array();
  for (const std::size_t c : d.columns) columns.push_back(Parameters[c].name);
  return columns;
}

// The design as the sweep's JSON holds it; without its points (their hash stands for them) where
// two sweeps are compared.
json DesignJson(const Design& d, bool withPoints) {
  json design = {{"columns", DesignColumns(d)}};
  if (withPoints) {
    std::size_t size = 0;
    PointsText(d, [&](std::string_view point) { size += point.size(); });
    std::string points;
    points.reserve(size);
    PointsText(d, [&](std::string_view point) { points += point; });
    design["points"] = std::move(points);
  }
  design["hash"] = DesignHash(d);
  return design;
}

Design DesignFrom(const json& j, const std::string& field) {
  Design d;
  const json& columns = At(j, "columns", field);
  if (!columns.is_array() || columns.empty()) throw DamagedJson(field + "columns", "a list of parameters");
  for (std::size_t c = 0; c < columns.size(); ++c) {
    d.columns.push_back(ParameterFrom(columns[c], field + "columns[" + std::to_string(c) + "]"));
    d.names.push_back(columns[c].get<std::string>());
  }
  const json& points = At(j, "points", field);
  if (!points.is_string()) throw DamagedJson(field + "points", "the points' values, points apart by ';'");
  const std::string& text = points.get_ref<const std::string&>();
  std::vector<double> values;
  for (std::size_t start = 0, end = 0; !text.empty() && end < text.size(); start = end + 1) {
    end = std::min(text.find(';', start), text.size());
    const std::string_view point = std::string_view(text).substr(start, end - start);
    const auto damaged = [&] {
      return DamagedJson(field + "points", "points apart by ';' of " + std::to_string(columns.size()) +
                                               " values apart by ',' (point " + std::to_string(d.points + 1) + " is not)");
    };
    std::size_t from = 0;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::size_t comma = std::min(point.find(',', from), point.size());
      if (from > point.size() || (c + 1 < columns.size()) != (comma < point.size())) throw damaged();
      const auto value = ParseValue(d.columns[c], point.substr(from, comma - from));
      if (!value) throw damaged();
      values.push_back(*value);
      from = comma + 1;
    }
    ++d.points;
  }
  d.values = std::make_shared<const std::vector<double>>(std::move(values));
  return d;
}

// A decimal number as a count of 10^-places: "1.25" with places 3 is 1250. Only plain decimals
// (digits, one point, an optional minus) take part in ranges.
std::optional<int> DecimalPlaces(std::string_view text) {
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

std::optional<std::int64_t> Scaled(std::string_view text, int places) {
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
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

// A parameter added at the end of the row since sweeps were first recorded, at the value every
// sweep before it had: left out of the sweep's JSON, so such a sweep keeps its bytes and a
// manifest written before it came is read (and refused by its build, not as damaged).
bool Unwritten(const Request& r, std::size_t k) { return Parameters[k].place == ColumnPlace::End && AtDefault(r.base, k); }

}  // namespace

json PathJson(const std::string& path) {
  if (IsUtf8(path)) return path;
  std::string hex;
  char two[3];
  for (const char c : path) {
    std::snprintf(two, sizeof two, "%02x", unsigned(std::uint8_t(c)));
    hex += two;
  }
  return {{"bytes", hex}};
}

std::string PathFromJson(const json& j, const std::string& field) {
  if (j.is_string()) return j.get<std::string>();
  if (j.is_object() && j.contains("bytes") && j["bytes"].is_string()) {
    const std::string hex = j["bytes"].get<std::string>();
    std::string path;
    for (std::size_t k = 0; k + 1 < hex.size() + (hex.size() % 2); k += 2) {
      unsigned byte = 0;
      const auto [end, ec] = std::from_chars(hex.data() + k, hex.data() + k + 2, byte, 16);
      if (ec != std::errc() || end != hex.data() + k + 2) throw DamagedJson(field + ".bytes", "hex digits");
      path += char(byte);
    }
    return path;
  }
  throw DamagedJson(field, "a path");
}

json SweepJson(const Request& r, std::uint64_t masterSeed, bool withPoints) {
  json parameters = json::object();
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    const ParameterRow& row = Parameters[k];
    if (Unwritten(r, k)) continue;
    // A fact given by its second name is null here, as one that follows other parameters.
    if (r.base.Given(k)) {
      parameters[std::string(row.name)] = ValueJson(k, r.base.values[k]);
    } else if (row.defaultFrom || !row.sameFactAs.empty() || GivenBySecondName(r.base, k)) {
      parameters[std::string(row.name)] = nullptr;
    } else {
      parameters[std::string(row.name)] = ValueJson(k, row.defaultValue);
    }
  }
  json axes = json::array();
  for (const Axis& axis : r.axes) axes.push_back(AxisJson(axis));
  json design = r.design ? DesignJson(*r.design, withPoints) : json(nullptr);
  // The design is moved in, not copied as a list of pairs would: it may hold the bytes of a file.
  json sweep = {{"master_seed", masterSeed},
                {"parameters", std::move(parameters)},
                {"set", std::move(axes)},
                {"repeats", r.repeats},
                {"steps", r.steps},
                {"until", UntilText(r.quietSteps)},
                {"record_every", r.recordEvery},
                {"means", r.means},
                {"runs", r.runs.Empty() ? json(nullptr) : json(r.runs.Text())},
                {"size", SweepSize(r)}};
  sweep["design"] = std::move(design);
  // Written only when there are some, so a sweep without keeps the manifest and hash it always had.
  if (!r.measures.empty()) sweep["measures"] = r.measures;
  return sweep;
}

json RequestJson(const Request& r, std::uint64_t masterSeed) {
  const Pictures& p = r.pictures;
  const json outputs = {{"csv", r.out.empty() ? json(nullptr) : PathJson(r.out)},
                        {"design_file", r.design && !r.design->file.empty() ? PathJson(r.design->file) : json(nullptr)},
                        {"charts", p.windowChart ? "window" : p.charts ? "on" : "off"},
                        {"snapshot_at", p.snapshotAt},
                        {"snapshot_every", p.snapshotEvery},
                        {"video", Videos[int(p.video)]}};
  json request = {{"from", r.from.empty() ? json(nullptr) : PathJson(r.from)},
                  {"shard", {r.shardIndex, r.shardCount}},
                  {"outputs", outputs},
                  {"jobs", r.jobs},
                  {"progress_every", r.progressEvery},
                  {"quiet", r.quiet}};
  request["sweep"] = SweepJson(r, masterSeed);
  return request;
}

Request RequestFromJson(const json& j) {
  Request r;
  const std::string top = "request.";
  const json& s = At(j, "sweep", top);
  const std::string sweep = top + "sweep.";
  r.seed = Whole<std::uint64_t>(s, "master_seed", sweep);
  const json& parameters = At(s, "parameters", sweep);
  if (!parameters.is_object()) throw DamagedJson(sweep + "parameters", "an object");
  for (std::size_t k = 0; k < ParameterCount; ++k) {
    const std::string name(Parameters[k].name);
    if (Parameters[k].place == ColumnPlace::End && !parameters.contains(name)) continue;  // see Unwritten
    const json& value = At(parameters, name.c_str(), sweep + "parameters.");
    if (!value.is_null()) r.base.Set(k, ValueFrom(k, value, sweep + "parameters." + name));
  }
  const json& axes = At(s, "set", sweep);
  if (!axes.is_array()) throw DamagedJson(sweep + "set", "a list");
  for (std::size_t k = 0; k < axes.size(); ++k) r.axes.push_back(AxisFrom(axes[k], sweep + "set[" + std::to_string(k) + "]."));
  const json& design = At(s, "design", sweep);
  if (!design.is_null()) {
    r.design = DesignFrom(design, sweep + "design.");
    if (Text(design, "hash", sweep + "design.") != DesignHash(*r.design)) {
      throw DamagedJson(sweep + "design.hash", "the hash of the design's points");
    }
  }
  r.repeats = Whole<std::int64_t>(s, "repeats", sweep);
  r.steps = Whole<std::int32_t>(s, "steps", sweep);
  const auto until = ParseUntil(Text(s, "until", sweep));
  if (!until) throw DamagedJson(sweep + "until", "steps, settled or settled:W");
  r.quietSteps = *until;
  r.recordEvery = Whole<std::int32_t>(s, "record_every", sweep);
  // Fields added since the format began: a manifest without them asked for none.
  if (s.contains("means")) {
    if (!s["means"].is_boolean()) throw DamagedJson(sweep + "means", "true or false");
    r.means = s["means"].get<bool>();
  }
  if (s.contains("measures")) {
    const json& measures = s["measures"];
    if (!measures.is_array()) throw DamagedJson(sweep + "measures", "a list of names");
    for (const json& name : measures) {
      if (!name.is_string()) throw DamagedJson(sweep + "measures", "a list of names");
      r.measures.push_back(name.get<std::string>());
    }
  }
  if (s.contains("runs") && !s["runs"].is_null()) {
    const auto runs = s["runs"].is_string() ? ParseRuns(s["runs"].get<std::string>()) : std::nullopt;
    if (!runs) throw DamagedJson(sweep + "runs", "runs and ranges of runs");
    r.runs = *runs;
  }
  if (r.repeats < 1 || Whole<std::int64_t>(s, "size", sweep) != SweepSize(r)) {
    throw DamagedJson(sweep + "size", "the number of the sweep's runs");
  }
  if (j.contains("from") && !j["from"].is_null()) r.from = PathFromJson(j["from"], top + "from");
  const json& shard = At(j, "shard", top);
  if (!shard.is_array() || shard.size() != 2 || !shard[0].is_number_integer() || !shard[1].is_number_integer()) {
    throw DamagedJson(top + "shard", "a pair of whole numbers");
  }
  r.shardIndex = shard[0].get<std::int64_t>();
  r.shardCount = shard[1].get<std::int64_t>();
  const json& outputs = At(j, "outputs", top);
  const std::string out = top + "outputs.";
  if (!At(outputs, "csv", out).is_null()) r.out = PathFromJson(outputs["csv"], out + "csv");
  if (r.design && !At(outputs, "design_file", out).is_null()) {
    r.design->file = PathFromJson(outputs["design_file"], out + "design_file");
  }
  const std::string charts = Text(outputs, "charts", out);
  if (charts != "on" && charts != "off" && charts != "window") throw DamagedJson(out + "charts", "on, off or window");
  r.pictures.charts = charts != "off";
  r.pictures.windowChart = charts == "window";
  const json& at = At(outputs, "snapshot_at", out);
  if (!at.is_array()) throw DamagedJson(out + "snapshot_at", "a list");
  for (const json& step : at) {
    if (!step.is_number_integer()) throw DamagedJson(out + "snapshot_at", "a list of whole numbers");
    r.pictures.snapshotAt.push_back(step.get<std::int32_t>());
  }
  r.pictures.snapshotEvery = Whole<std::int32_t>(outputs, "snapshot_every", out);
  const std::string video = Text(outputs, "video", out);
  const auto found = std::find(std::begin(Videos), std::end(Videos), video);
  if (found == std::end(Videos)) throw DamagedJson(out + "video", "off, mp4 or gif");
  r.pictures.video = Video(found - std::begin(Videos));
  r.jobs = Whole<std::int32_t>(j, "jobs", top);
  r.progressEvery = Whole<std::int32_t>(j, "progress_every", top);
  if (!At(j, "quiet", top).is_boolean()) throw DamagedJson(top + "quiet", "true or false");
  r.quiet = j["quiet"].get<bool>();
  return r;
}

std::string Hash(std::string_view bytes) {
  Fnv fnv;
  fnv.Add(bytes);
  return fnv.Hex();
}

std::string DesignHash(const Design& design) {
  Fnv fnv;
  fnv.Add(DesignColumns(design).dump());
  PointsText(design, [&](std::string_view point) { fnv.Add(point); });
  return fnv.Hex();
}

std::string RequestHash(const json& sweep, const std::string& build) {
  // The hash of {"build": build, "sweep": sweep} as dump() writes it, taken as it is written: the
  // sweep may hold a design's points, never copied or held as text for this.
  class Hashing : public std::streambuf {
   public:
    Fnv fnv;

   protected:
    int_type overflow(int_type c) override {
      if (c != traits_type::eof()) xsputn(reinterpret_cast<const char*>(&c), 1);
      return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      fnv.Add(std::string_view(s, std::size_t(n)));
      return n;
    }
  } hashing;
  std::ostream out(&hashing);
  out << "{\"build\":" << json(build) << ",\"sweep\":" << sweep << "}";
  return hashing.fnv.Hex();
}

std::optional<Difference> FirstDifference(const Request& kept, const Request& given) {
  const auto differ = [](const char* name, const std::string& a, const std::string& b) -> std::optional<Difference> {
    if (a == b) return std::nullopt;
    return Difference{name, std::nullopt, a, b};
  };
  const auto seed = [](const Request& r) { return r.seed ? std::to_string(*r.seed) : std::string("drawn"); };
  const auto chosen = [](const Request& r) { return r.runs.Empty() ? std::string("every run") : "runs " + r.runs.Text(); };
  if (auto d = differ("replay", chosen(kept), chosen(given))) return d;
  if (auto d = differ("seed", seed(kept), seed(given))) return d;
  if (auto d = differ("runs", std::to_string(SweepSize(kept)), std::to_string(SweepSize(given)))) return d;
  if (auto d = differ("steps", std::to_string(kept.steps), std::to_string(given.steps))) return d;
  if (auto d = differ("until", UntilText(kept.quietSteps), UntilText(given.quietSteps))) return d;
  if (auto d = differ("record_every", std::to_string(kept.recordEvery), std::to_string(given.recordEvery))) return d;
  if (auto d = differ("means", kept.means ? "on" : "off", given.means ? "on" : "off")) return d;
  const auto names = [](const Request& r) {
    std::string text;
    for (const std::string& name : r.measures) text += (text.empty() ? "'" : ", '") + name + "'";
    return text.empty() ? std::string("none") : text;
  };
  if (auto d = differ("measures", names(kept), names(given))) return d;
  if (SweepJson(kept, 0, false) == SweepJson(given, 0, false) && kept.design.has_value() == given.design.has_value() &&
      (!kept.design || *kept.design->values == *given.design->values)) {
    return std::nullopt;
  }
  const std::int64_t runs = SweepSize(kept);
  for (std::int64_t index = 0; index < runs; ++index) {
    const ParameterValues a = RunAt(kept, 0, index).parameters, b = RunAt(given, 0, index).parameters;
    for (std::size_t k = 0; k < ParameterCount; ++k) {
      if (a[k] != b[k]) {
        return Difference{std::string(Parameters[k].name), index, ValueText(k, a[k]), ValueText(k, b[k])};
      }
    }
  }
  return std::nullopt;
}

std::optional<Difference> PicturesDifference(const Pictures& kept, const Pictures& given) {
  const auto charts = [](const Pictures& p) { return p.windowChart ? "window" : p.charts ? "on" : "off"; };
  const auto list = [](const Pictures& p) { return json(p.snapshotAt).dump(); };
  const std::pair<const char*, std::pair<std::string, std::string>> fields[] = {
      {"charts", {charts(kept), charts(given)}},
      {"snapshot_at", {list(kept), list(given)}},
      {"snapshot_every", {std::to_string(kept.snapshotEvery), std::to_string(given.snapshotEvery)}},
      {"video", {Videos[int(kept.video)], Videos[int(given.video)]}}};
  for (const auto& [name, values] : fields) {
    if (values.first != values.second) return Difference{name, std::nullopt, values.first, values.second};
  }
  return std::nullopt;
}

Axis ParseAxis(std::size_t parameter, std::string_view list) {
  const std::string name(Parameters[parameter].name);
  const auto refuse = [&](const std::string& why) -> RequestError {
    return RequestError(Source::Set, name, std::string(list), why);
  };
  const char* accepts = "a list a,b,c or a range start:stop:step with step > 0 and start <= stop";
  if (list.find(':') == std::string_view::npos) {
    std::vector<double> values;
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = list.find(',', start);
      const std::string_view part = list.substr(start, comma - start);
      if (part.empty()) throw refuse(accepts);
      const auto value = ParseValue(parameter, part);
      if (!value) throw RequestError(Source::Set, name, std::string(part), "expects " + Expects(parameter));
      values.push_back(*value);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    return Axis::Listed(parameter, std::move(values));
  }
  // A choice's values are names, which make no range.
  if (Parameters[parameter].kind == ParameterKind::Choice) throw refuse("a list of " + Expects(parameter));
  const std::size_t first = list.find(':');
  const std::size_t second = list.find(':', first + 1);
  if (second == std::string_view::npos || list.find(':', second + 1) != std::string_view::npos) throw refuse(accepts);
  const std::string_view parts[3] = {list.substr(0, first), list.substr(first + 1, second - first - 1),
                                     list.substr(second + 1)};
  int places = 0;
  for (const std::string_view part : parts) {
    const auto p = DecimalPlaces(part);
    if (!p) throw refuse(accepts);
    places = std::max(places, *p);
  }
  std::int64_t scaled[3];
  for (int k = 0; k < 3; ++k) {
    const auto s = Scaled(parts[k], places);
    if (!s) throw refuse(accepts);
    scaled[k] = *s;
  }
  const auto [start, stop, step] = scaled;
  if (step <= 0 || start > stop) throw refuse(accepts);
  return Axis::Progression(parameter, start, step, (stop - start) / step + 1, places);
}

}  // namespace zelmora::sweep
