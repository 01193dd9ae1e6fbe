#include "simulation/Measures.h"

#include <algorithm>
#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "simulation/ModelMath.h"
#include "simulation/World.h"

namespace zelmora {
namespace {

using Word = std::uint64_t;

// 840 is the least common multiple of 1..8, so every like / total share of an agent is a whole
// number of 840ths and their sum is exact whatever the order.
constexpr std::int64_t kShareUnit = 840;

constexpr Word Majority(Word a, Word b, Word c) { return (a & b) | (c & (a | b)); }

// Without a popcount instruction in the baseline instruction set, std::popcount is a library
// call; this is a dozen inline operations.
constexpr int Ones(Word x) {
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return int((x * 0x0101010101010101u) >> 56);
}
static_assert(Ones(0) == 0 && Ones(~Word(0)) == 64 && Ones(0x8000000000000001u) == 2 &&
              Ones(0x0123456789ABCDEFu) == 32 && Ones(0xFFu << 20) == 8);

struct SimilarInput {
  const Word* three[2][2];  // per colour: west + centre + east, two bit planes
  const Word* two[2][2];    // per colour: west + east
  const Word* occupancy[2];
  std::int32_t rows;
  std::size_t words;
  const std::int32_t* minLike;  // per count of neighbours, the fewest like ones that satisfy
};

struct SimilarSums {
  std::int64_t shares = 0;   // like / total of every agent with a neighbour, in 840ths
  std::int64_t counted = 0;  // agents with a neighbour
  std::int64_t satisfied = 0;  // agents with a neighbour that the segregation rule satisfies
};

// The lanes whose 4-bit number (bit planes v[0..3]) is at least m, compared from the top bit.
inline Word AtLeast(const Word v[4], std::int32_t m) {
  if (m <= 0) return ~Word(0);
  if (m > 15) return 0;
  Word greater = 0, equal = ~Word(0);
  for (int b = 3; b >= 0; --b) {
    if ((m >> b) & 1) {
      equal &= v[b];
    } else {
      greater |= equal & v[b];
      equal &= ~v[b];
    }
  }
  return greater | equal;
}
static_assert(sizeof(Word) == 8);

struct PortableOnes {
  [[gnu::always_inline]] int operator()(Word x) const { return Ones(x); }
};

#if defined(__x86_64__) && defined(__GNUC__)
struct HardwareOnes {
  [[gnu::always_inline]] int operator()(Word x) const { return __builtin_popcountll(x); }
};
#endif

// Every agent's like and total neighbour counts as bit planes, 64 cells at a time, summed per
// total: 840 / total times the like neighbours of the agents with that total.
template <class Pop>
[[gnu::always_inline]] inline SimilarSums AddSimilarWith(const SimilarInput& in, Pop pop) {
  SimilarSums sums;
  for (std::int32_t row = 0; row < in.rows; ++row) {
    const std::size_t above = std::size_t(row == 0 ? in.rows - 1 : row - 1) * in.words;
    const std::size_t here = std::size_t(row) * in.words;
    const std::size_t below = std::size_t(row == in.rows - 1 ? 0 : row + 1) * in.words;
    for (std::size_t k = 0; k < in.words; ++k) {
      const Word black = in.occupancy[0][here + k], white = in.occupancy[1][here + k];
      const Word agents = black | white;
      if (agents == 0) continue;
      // Each colour's neighbours as four bit planes (0..8): above + beside + below.
      Word count[2][4];
      for (int colour = 0; colour < 2; ++colour) {
        const Word a0 = in.three[colour][0][above + k], a1 = in.three[colour][1][above + k];
        const Word b0 = in.two[colour][0][here + k], b1 = in.two[colour][1][here + k];
        const Word c0 = in.three[colour][0][below + k], c1 = in.three[colour][1][below + k];
        const Word t0 = a0 ^ b0, k0 = a0 & b0;
        const Word t1 = a1 ^ b1 ^ k0, t2 = Majority(a1, b1, k0);
        const Word k1 = t0 & c0, k2 = Majority(t1, c1, k1);
        count[colour][0] = t0 ^ c0;
        count[colour][1] = t1 ^ c1 ^ k1;
        count[colour][2] = t2 ^ k2;
        count[colour][3] = t2 & k2;
      }
      // All occupied neighbours (0..8), and the like ones of the agent on each cell.
      Word all[4], like[4];
      Word carry = 0;
      for (int b = 0; b < 4; ++b) {
        const Word x = count[0][b], y = count[1][b];
        all[b] = x ^ y ^ carry;
        carry = Majority(x, y, carry);
        like[b] = (black & x) | (white & y);
      }
      const Word bit[3][2] = {{~all[0], all[0]}, {~all[1], all[1]}, {~all[2], all[2]}};
      const Word belowEight = agents & ~all[3];
      for (int n = 1; n <= 8; ++n) {
        const Word with = n == 8 ? agents & all[3] : belowEight & bit[0][n & 1] & bit[1][(n >> 1) & 1] & bit[2][n >> 2];
        if (with == 0) continue;
        sums.counted += pop(with);
        std::int64_t likeSum = 0;
        for (int b = 0; b < 4 && (1 << b) <= n; ++b) likeSum += std::int64_t(pop(with & like[b])) << b;
        sums.shares += likeSum * (kShareUnit / n);
        sums.satisfied += pop(with & AtLeast(like, in.minLike[n]));
      }
    }
  }
  return sums;
}

SimilarSums AddSimilarPortable(const SimilarInput& in) { return AddSimilarWith(in, PortableOnes{}); }

#if defined(__x86_64__) && defined(__GNUC__)
// The popcount instruction is not in the baseline instruction set; most machines have it.
[[gnu::target("popcnt")]] SimilarSums AddSimilarPopcnt(const SimilarInput& in) {
  return AddSimilarWith(in, HardwareOnes{});
}

SimilarSums AddSimilar(const SimilarInput& in) {
  static const bool hasPopcnt = __builtin_cpu_supports("popcnt");
  return hasPopcnt ? AddSimilarPopcnt(in) : AddSimilarPortable(in);
}
#else
SimilarSums AddSimilar(const SimilarInput& in) { return AddSimilarPortable(in); }
#endif

// Bits of the cells whose byte is 1 (black) and 2 (white), count cells from `cell`, count <= 64.
void PackBytes(const std::uint8_t* cell, std::int32_t count, Word& black, Word& white) {
  Word b = 0, w = 0;
  std::int32_t i = 0;
#if defined(__SSE2__)
  const __m128i one = _mm_set1_epi8(1), two = _mm_set1_epi8(2);
  for (; i + 16 <= count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell + i));
    b |= Word(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, one)))) << i;
    w |= Word(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, two)))) << i;
  }
#endif
  for (; i < count; ++i) {
    b |= Word(cell[i] == 1) << i;
    w |= Word(cell[i] == 2) << i;
  }
  black = b;
  white = w;
}

}  // namespace

Measurer::Measurer(double thresholdPercent) {
  for (std::int32_t n = 0; n <= 8; ++n) {
    std::int32_t like = 0;
    while (like <= n && !detail::IsSatisfied(like, n - like, thresholdPercent)) ++like;
    minLike_[n] = like;
  }
}

StepMeasures Measurer::Measure(const World& world) {
  StepMeasures m;
  if (!world.grid.HasCells()) {
    for (const TAgent& agent : world.Agents) (agent.satisfied ? m.satisfied : m.unsatisfied) += 1;
    return m;
  }

  const TGrid& grid = world.grid;
  // Markets on one cell share one count, so each cell counts once.
  std::array<const TCell*, MarketCount> markets{};
  std::size_t distinct = 0;
  double customers = 0.0;
  for (const MarketPosition& p : world.Markets) {
    const TCell* cell = &grid.At(p.col, p.row);
    if (std::find(markets.begin(), markets.begin() + distinct, cell) != markets.begin() + distinct) continue;
    markets[distinct++] = cell;
    customers += cell->customers;
  }
  if (customers > 0) {
    double h = 0.0;
    for (std::size_t i = 0; i < distinct; ++i) {
      const double share = markets[i]->customers / customers;
      h += share * share;
    }
    m.herfindahl = h;
  }

  PackAgents(world, m);
  CountSimilar(m);
  m.clusterCount = CountClusters(0) + CountClusters(1);
  const auto agents = std::int64_t(world.Agents.size());
  if (agents > 0) m.meanClusterSize = double(agents) / double(m.clusterCount);
  return m;
}

void Measurer::PackAgents(const World& world, StepMeasures& m) {
  const TGrid& grid = world.grid;
  cols_ = grid.Cols();
  rows_ = grid.Rows();
  words_ = (std::size_t(cols_) + 63) / 64;
  lastMask_ = cols_ % 64 == 0 ? ~Word(0) : (Word(1) << (cols_ % 64)) - 1;
  const std::size_t total = words_ * std::size_t(rows_);
  occupancy_.assign(2 * total, 0);
  // Both colours lie in one block, white after black.
  Word* planes = occupancy_.data();
  const std::size_t words = words_;
  const std::size_t cells = grid.Cells().size();
  const bool compact = world.CopiesCurrent();
  std::int64_t unsatisfied = 0;
  if (compact) {
    for (const Word bits : world.UnsatisfiedBits()) unsatisfied += Ones(bits);
  } else {
    for (const TAgent& agent : world.Agents) unsatisfied += !agent.satisfied;
  }
  m.unsatisfied = unsatisfied;
  m.satisfied = std::int64_t(world.Agents.size()) - unsatisfied;
  if (compact) {
    // The World's byte a cell (0 free, 1 + colour), read in order: far cheaper than setting one
    // bit per agent, whose words are hit again and again in no order.
    const std::uint8_t* state = world.Occupancy().data();
    for (std::int32_t row = 0; row < rows_; ++row) {
      const std::uint8_t* cell = state + std::size_t(row) * std::size_t(cols_);
      for (std::size_t k = 0; k < words; ++k) {
        const std::int32_t first = std::int32_t(k * 64);
        const std::int32_t count = std::min(64, cols_ - first);
        const std::size_t at = std::size_t(row) * words + k;
        PackBytes(cell + first, count, planes[at], planes[total + at]);
      }
    }
  } else {
    // An agent and its cell agree between phases (the cell is occupied and its State is the
    // agent's colour), so the compact list of agents gives the occupancy.
    for (const TAgent& agent : world.Agents) {
      planes[std::size_t(agent.colour & 1) * total + std::size_t(agent.row) * words + std::size_t(agent.col) / 64] |=
          Word(1) << (agent.col % 64);
    }
  }
  // The World keeps the sum of its prices while its copies are current; the cells give the same
  // bits, summed in the same order.
  const TCell* cell = grid.Cells().data();
  const double priceSum = compact ? world.LocalPriceSum()
                                  : detail::SumInLanes(cells, [cell](std::size_t k) { return cell[k].localPrice; });
  m.meanLocalPrice = priceSum / (double(cols_) * double(rows_));
}

void Measurer::CountSimilar(StepMeasures& m) {
  const std::size_t total = words_ * std::size_t(rows_);
  const std::size_t last = words_ - 1;
  const unsigned lastBit = unsigned(cols_ - 1) % 64;
  west_.resize(words_);
  east_.resize(words_);
  // Horizontal sums of each row: the neighbours to the west and east wrap round the row's ends.
  for (int colour = 0; colour < 2; ++colour) {
    for (auto* planes : {three_[colour], two_[colour]}) {
      planes[0].resize(total);
      planes[1].resize(total);
    }
    for (std::int32_t row = 0; row < rows_; ++row) {
      const std::size_t base = std::size_t(row) * words_;
      const Word* x = Plane(colour) + base;
      for (std::size_t k = 0; k < words_; ++k) {
        west_[k] = (x[k] << 1) | (k > 0 ? x[k - 1] >> 63 : (x[last] >> lastBit) & 1);
        east_[k] = (x[k] >> 1) | (k < last ? x[k + 1] << 63 : (x[0] & 1) << lastBit);
      }
      west_[last] &= lastMask_;
      for (std::size_t k = 0; k < words_; ++k) {
        const Word w = west_[k], c = x[k], e = east_[k];
        three_[colour][0][base + k] = w ^ c ^ e;
        three_[colour][1][base + k] = Majority(w, c, e);
        two_[colour][0][base + k] = w ^ e;
        two_[colour][1][base + k] = w & e;
      }
    }
  }

  const SimilarInput in{{{three_[0][0].data(), three_[0][1].data()}, {three_[1][0].data(), three_[1][1].data()}},
                        {{two_[0][0].data(), two_[0][1].data()}, {two_[1][0].data(), two_[1][1].data()}},
                        {Plane(0), Plane(1)},
                        rows_,
                        words_,
                        minLike_};
  const SimilarSums sums = AddSimilar(in);
  // Agents without a neighbour have a like share of 0.
  const std::int64_t agents = m.satisfied + m.unsatisfied;
  const std::int64_t alone = minLike_[0] == 0 ? agents - sums.counted : 0;
  m.unsatisfiedByRule = agents - sums.satisfied - alone;
  if (sums.counted > 0) {
    m.percentSimilar = 100.0 * double(sums.shares) / (double(kShareUnit) * double(sums.counted));
  }
}

void Measurer::FindRuns(const Word* row, std::int32_t cols) {
  std::int32_t open = -1;  // first column of a run still going on at a word's end
  for (std::size_t k = 0; k < words_; ++k) {
    Word v = row[k];
    const auto base = std::int32_t(k * 64);
    std::int32_t at = 0;  // bits of this word looked at
    while (at < 64) {
      if (open < 0) {
        if (v == 0) break;
        const int start = std::countr_zero(v);  // below 64, as v is not 0
        at += start;
        open = base + at;
        v >>= start;
      }
      const int ones = std::countr_one(v);
      if (at + ones >= 64) break;  // the run goes on into the next word
      runFirst_[runs_] = open;
      runLast_[runs_++] = base + at + ones - 1;
      open = -1;
      at += ones;
      v >>= ones;  // ones < 64 here
    }
  }
  if (open >= 0) {
    runFirst_[runs_] = open;
    runLast_[runs_++] = cols - 1;
  }
}

std::int32_t Measurer::Find(std::int32_t run) {
  while (parent_[std::size_t(run)] != run) {
    parent_[std::size_t(run)] = parent_[std::size_t(parent_[std::size_t(run)])];
    run = parent_[std::size_t(run)];
  }
  return run;
}

bool Measurer::Unite(std::int32_t a, std::int32_t b) {
  a = Find(a);
  b = Find(b);
  if (a == b) return false;
  parent_[std::size_t(std::max(a, b))] = std::min(a, b);
  return true;
}

std::int64_t Measurer::CountClusters(int colour) {
  // A row has at most one run in every two cells.
  const std::size_t most = std::size_t(rows_) * (std::size_t(cols_) / 2 + 1);
  runFirst_.resize(most);
  runLast_.resize(most);
  runs_ = 0;
  rowRuns_.resize(std::size_t(rows_) + 1);
  for (std::int32_t row = 0; row < rows_; ++row) {
    rowRuns_[std::size_t(row)] = runs_;
    FindRuns(Plane(colour) + std::size_t(row) * words_, cols_);
  }
  const std::int32_t runs = runs_;
  rowRuns_[std::size_t(rows_)] = runs;
  parent_.resize(std::size_t(runs));
  for (std::int32_t i = 0; i < runs; ++i) parent_[std::size_t(i)] = i;

  std::int64_t clusters = runs;
  const auto first = [&](std::int32_t r) { return rowRuns_[std::size_t(r)]; };
  const auto end = [&](std::int32_t r) { return rowRuns_[std::size_t(r) + 1]; };
  const auto L = [&](std::int32_t i) { return runFirst_[std::size_t(i)]; };
  const auto R = [&](std::int32_t i) { return runLast_[std::size_t(i)]; };
  for (std::int32_t row = 0; row < rows_; ++row) {
    const std::int32_t next = row == rows_ - 1 ? 0 : row + 1;
    std::int32_t i = first(row), j = first(next);
    const std::int32_t iEnd = end(row), jEnd = end(next);
    if (i == iEnd) continue;
    // Across the row's own ends.
    if (L(i) == 0 && R(iEnd - 1) == cols_ - 1) clusters -= Unite(i, iEnd - 1);
    if (j == jEnd) continue;
    // Diagonally across the ends into the next row.
    if (L(i) == 0 && R(jEnd - 1) == cols_ - 1) clusters -= Unite(i, jEnd - 1);
    if (R(iEnd - 1) == cols_ - 1 && L(j) == 0) clusters -= Unite(iEnd - 1, j);
    // Runs of the two rows touch when they overlap or meet at a corner. Whether they touch or
    // not, the run that ends first can touch nothing further on, so it is the one passed.
    while (i < iEnd && j < jEnd) {
      const std::int32_t ri = R(i), rj = R(j);
      if (ri + 1 >= L(j) && rj + 1 >= L(i)) clusters -= Unite(i, j);
      const bool passI = ri < rj;
      i += passI;
      j += !passI;
    }
  }
  return clusters;
}

}  // namespace zelmora
