#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "sweep/Request.h"

namespace zelmora::sweep {

// JSON that is not what it should be: `field` names the first field missing or of the wrong type
// ("request.sweep.steps"), `expects` what it should hold.
class DamagedJson : public std::runtime_error {
 public:
  DamagedJson(std::string field, std::string expects)
      : std::runtime_error("field '" + field + "' is missing or not " + expects),
        field(std::move(field)),
        expects(std::move(expects)) {}
  std::string field, expects;
};

// A path in JSON without loss: a string where its bytes are UTF-8, otherwise {"bytes": hex}.
nlohmann::json PathJson(const std::string& path);
std::string PathFromJson(const nlohmann::json& json, const std::string& field);

// What decides a sweep's results, canonical: the master seed, every parameter's value for every run
// before the lists and the design (null for a default that follows other parameters), the lists,
// the design (its columns, its points as one text "v,v;v,v" and their hash; without the points,
// `withPoints` false, where only its identity matters), repeats, steps, until, record_every,
// means, a replay's runs (null: every run) and the size. Requests that ask for the same spelled
// alike write the same bytes.
nlohmann::json SweepJson(const Request& request, std::uint64_t masterSeed, bool withPoints = true);

// The whole request: the sweep, the manifest a replay replays ("from", null for none), the shard,
// the outputs and how it runs.
nlohmann::json RequestJson(const Request& request, std::uint64_t masterSeed);

// A request read back from RequestJson, its master seed in `seed`. Throws DamagedJson.
Request RequestFromJson(const nlohmann::json& json);

// 64-bit FNV-1a as 16 hex digits: of a design's columns and points' text, of a sweep with its build.
std::string Hash(std::string_view bytes);
std::string DesignHash(const Design& design);
std::string RequestHash(const nlohmann::json& sweep, const std::string& build);

// Where two sweeps first differ: the runs a replay makes ("replay": "runs 13,20" or "every run"), a
// request's field (seed, runs, steps, until, record_every, means) or, with `run` set, a parameter of
// that run; the values as the command line writes them.
struct Difference {
  std::string name;
  std::optional<std::int64_t> run;
  std::string kept, given;
};

// Compares two sweeps (their master seeds given in `seed`): the fields first, then, unless their
// canonical JSON is the same, every parameter of every run in run order, so two spellings of one
// sweep (a design of a cross product, a list of one value for an option) are the same sweep.
std::optional<Difference> FirstDifference(const Request& kept, const Request& given);

// The first picture option two requests differ in.
std::optional<Difference> PicturesDifference(const Pictures& kept, const Pictures& given);

// A list as the command line writes it ("a,b,c" or "start:stop:step", numbers in decimal, stop
// included when reached) into an axis of `parameter`. Throws RequestError naming the list.
Axis ParseAxis(std::size_t parameter, std::string_view list);

}  // namespace zelmora::sweep
