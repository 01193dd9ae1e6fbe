#include "bench/simulation/Twins.h"

#include <algorithm>
#include <bit>
#include <map>
#include <numeric>
#include <utility>

#include "simulation/Random.h"

namespace zelmora::bench {

Twins::Twins(const Settings& s) : settings_(s) {
  inputs_.returnsToScale = s.returns;
  inputs_.lookForCenters = s.lookForCenters;
  inputs_.shape = s.shape;
  inputs_.thresholdPercent = s.threshold;
  inputs_.agentCount = std::to_string(s.side * s.side / 2);  // half the cells, as in the window
  plain_.UsePlainPhases(true);
  fast_.SetSeedSource([this] { return fastSeed_++; });
  plain_.SetSeedSource([this] { return plainSeed_++; });
  for (World* w : {&fast_, &plain_}) {
    w->SizeGrid(s.side * World::CellPitch, s.side * World::CellPitch);
    w->grid.CreateCells();
  }
}

void Twins::Setup() {
  // Seeds of their own for every setup, so that a setup writes cells the last one left
  // otherwise, as a new setup of the window does.
  fastSeed_ = plainSeed_ = 12345 + 1000 * setups_++;
  fast_.NewSetup();
  plain_.NewSetup();
}

void Twins::Warm(int steps) {
  plain_.UsePlainPhases(false);
  for (int i = 0; i < steps; ++i) {
    fast_.SimulationStep();
    plain_.SimulationStep();
  }
  plain_.UsePlainPhases(true);
}

namespace {

std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
  h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
  return h * 0xff51afd7ed558ccdULL;
}

std::uint64_t CellPrint(const TCell& c) {
  std::uint64_t h = Mix(0, std::uint64_t(c.occupant));
  for (const std::int64_t v : {std::int64_t(c.sameNeighbours), std::int64_t(c.otherNeighbours),
                               std::int64_t(c.catchment), std::int64_t(c.occupied), std::int64_t(c.grey),
                               std::int64_t(c.customers), std::int64_t(c.State())}) {
    h = Mix(h, std::uint64_t(v));
  }
  h = Mix(h, std::bit_cast<std::uint64_t>(c.unitCost));
  return Mix(h, std::bit_cast<std::uint64_t>(c.localPrice));
}

std::uint64_t AgentPrint(const TAgent& a) {
  std::uint64_t h = Mix(std::uint64_t(a.col), std::uint64_t(a.row));
  return Mix(Mix(h, std::uint64_t(a.satisfied)), std::uint64_t(a.shade));
}

}  // namespace

void ChangeCounter::Take(const World& world) {
  cells_.resize(world.grid.Cells().size());
  agents_.resize(world.Agents.size());
  for (std::size_t k = 0; k < cells_.size(); ++k) cells_[k] = CellPrint(world.grid.Cells()[k]);
  for (std::size_t i = 0; i < agents_.size(); ++i) agents_[i] = AgentPrint(world.Agents[i]);
}

std::int64_t ChangeCounter::Count(const World& world) {
  std::int64_t changed = 0;
  for (std::size_t k = 0; k < cells_.size(); ++k) {
    const std::uint64_t now = CellPrint(world.grid.Cells()[k]);
    changed += now != cells_[k];
    cells_[k] = now;
  }
  for (std::size_t i = 0; i < agents_.size(); ++i) {
    const std::uint64_t now = AgentPrint(world.Agents[i]);
    changed += now != agents_[i];
    agents_[i] = now;
  }
  return changed;
}

Window RunWindow(Twins& twins, int steps) {
  // Each side takes the whole window in turn: stepped one after the other, every fast step would
  // start in caches the plain step had just filled with its own cells. The plain twin's steps,
  // the same as the fast twin's, are counted, between its timed steps.
  Window w;
  w.steps = steps;
  const std::int64_t drawn = twins.Fast().CandidatesDrawn;
  double t = CpuSeconds();
  for (int i = 0; i < steps; ++i) twins.Fast().SimulationStep();
  w.fast = CpuSeconds() - t;
  w.draws = double(twins.Fast().CandidatesDrawn - drawn);
  ChangeCounter counter;
  counter.Take(twins.Plain());
  for (int i = 0; i < steps; ++i) {
    t = CpuSeconds();
    twins.Plain().SimulationStep();
    w.plain += CpuSeconds() - t;
    w.changed += double(counter.Count(twins.Plain()));
  }
  return w;
}

double OneTry(std::int32_t side) {
  static std::map<std::int32_t, double> measured;  // once per size and run
  auto [at, fresh] = measured.try_emplace(side, 0.0);
  if (!fresh) return at->second;
  const std::size_t cells = std::size_t(side) * std::size_t(side);
  std::vector<double> freePrices(cells);
  Random r;
  r.Seed(7);
  for (double& p : freePrices) p = r.Below(2) ? 100.0 + r.Below(1000) : 1e300;
  std::vector<std::size_t> wrapCol(std::size_t(side) + 20), wrapRow(std::size_t(side) + 20);
  for (std::int32_t j = 0; j < side + 20; ++j) {
    const std::int32_t v = (j - 10 + side) % side;
    wrapCol[std::size_t(j)] = std::size_t(v);
    wrapRow[std::size_t(j)] = std::size_t(v) * std::size_t(side);
  }
  // The best of a few runs: the floor is what a try costs when nothing else gets in its way.
  constexpr int kTries = 1 << 20;
  double cheapest = 1e300, best = 1e300;
  std::size_t agentCol = 0, agentRow = 0;
  for (int run = 0; run < 8; ++run) {
    const double start = CpuSeconds();
    for (int i = 0; i < kTries; ++i) {
      const std::uint64_t x = r.Next();
      const std::uint64_t dc = (x >> 32) * 20, dr = (x & 0xffffffffu) * 20;
      cheapest = std::min(cheapest, freePrices[wrapRow[agentRow + (dr >> 32)] + wrapCol[agentCol + (dc >> 32)]]);
      if ((i & 15) == 15) agentCol = (agentCol + 7) % std::size_t(side), agentRow = (agentRow + 3) % std::size_t(side);
    }
    best = std::min(best, (CpuSeconds() - start) / kTries);
  }
  benchmark::DoNotOptimize(cheapest);
  at->second = best;
  return best;
}

double OneLine(std::int32_t side) {
  static std::map<std::int32_t, double> measured;
  auto [at, fresh] = measured.try_emplace(side, 0.0);
  if (!fresh) return at->second;
  const std::size_t lines = std::size_t(side) * std::size_t(side) * sizeof(TCell) / 64;
  std::vector<std::uint64_t> memory(lines * 8, 1);
  Random r;
  r.Seed(11);
  std::vector<std::uint32_t> where(std::size_t(1) << 20);
  double best = 1e300;
  for (int run = 0; run < 4; ++run) {
    for (std::uint32_t& k : where) k = r.Below(std::uint32_t(lines));
    const double start = CpuSeconds();
    for (const std::uint32_t k : where) memory[std::size_t(k) * 8] += 1;
    best = std::min(best, (CpuSeconds() - start) / double(where.size()));
  }
  benchmark::DoNotOptimize(memory.data());
  at->second = best;
  return best;
}

void Report(benchmark::State& state, const Window& w, std::int32_t side) {
  const double steps = w.steps;
  const double fast = w.fast / steps * 1e6, plain = w.plain / steps * 1e6;
  state.counters["fast_us"] = fast;
  state.counters["plain_us"] = plain;
  state.counters["ratio"] = plain / fast;
  state.counters["draws"] = w.draws / steps;
  state.counters["try_ns"] = OneTry(side) * 1e9;
  state.counters["line_ns"] = OneLine(side) * 1e9;
  if (w.changed > 0 || w.draws > 0) {
    const double floor = (w.draws * OneTry(side) + w.changed * OneLine(side)) / steps * 1e6;
    state.counters["changed"] = w.changed / steps;
    state.counters["floor_us"] = floor;
    state.counters["to_floor"] = fast / floor;
  }
}

std::string Name(const char* what, const Settings& s) {
  std::string name = std::string(what) + "/" + std::to_string(s.side);
  const int returns = int(s.returns * 10 + 0.5);
  return name + "/returns_" + std::to_string(returns / 10) + "." + std::to_string(returns % 10);
}

}  // namespace zelmora::bench
