#include "simulation/IncrementalMeasures.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "simulation/Bits.h"
#include "simulation/ModelMath.h"
#include "simulation/Registers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace zelmora {
namespace {

using Word = std::uint64_t;

constexpr std::int64_t kShareUnit = IncrementalMeasures::ShareUnit;

constexpr Word Majority(Word a, Word b, Word c) { return (a & b) | (c & (a | b)); }

using detail::Ones;

struct SimilarInput {
  const Word* three[2][2];  // per colour: west + centre + east, two bit planes
  const Word* two[2][2];    // per colour: west + east
  const Word* occupancy[2];
  std::int32_t rows;
  std::size_t words;
  // Per count of neighbours, the fewest like ones that satisfy, bit b as a whole word in [b].
  const std::array<Word, 4>* fewest;
};

struct SimilarSums {
  std::int64_t shares = 0;       // like / total of every agent with a neighbour, in 840ths
  std::int64_t counted = 0;      // agents with a neighbour
  std::int64_t unsatisfied = 0;  // agents the rule leaves unsatisfied
};

// The lanes whose 4-bit number a (bit planes a[0..3]) is below b's, compared from the top bit.
[[gnu::always_inline]] inline Word Below(const Word a[4], const Word b[4]) {
  Word below = 0, equal = ~Word(0);
  for (int i = 3; i >= 0; --i) {
    below |= equal & ~a[i] & b[i];
    equal &= ~(a[i] ^ b[i]);
  }
  return below;
}

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
      // Each agent's fewest like neighbours that satisfy, by its count of neighbours, as bit
      // planes: one comparison with its like ones then finds the unsatisfied.
      Word least[4];
      const Word alone = belowEight & ~(all[0] | all[1] | all[2]);
      for (int b = 0; b < 4; ++b) least[b] = alone & in.fewest[0][std::size_t(b)];
#pragma GCC unroll 8
      for (int n = 1; n <= 8; ++n) {
        const Word with = n == 8 ? agents & all[3] : belowEight & bit[0][n & 1] & bit[1][(n >> 1) & 1] & bit[2][n >> 2];
        if (with == 0) continue;
        sums.counted += pop(with);
        std::int64_t likeSum = 0;
        for (int b = 0; b < 4 && (1 << b) <= n; ++b) likeSum += std::int64_t(pop(with & like[b])) << b;
        sums.shares += likeSum * (kShareUnit / n);
        for (int b = 0; b < 4; ++b) least[b] |= with & in.fewest[n][std::size_t(b)];
      }
      sums.unsatisfied += pop(agents & Below(like, least));
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

// The same sums eight words at a time, each lane a word of its own; with counting instructions
// for whole registers.
[[gnu::target("avx512f,avx512vpopcntdq")]] SimilarSums AddSimilarWide(const SimilarInput& in) {
  using V = __m512i;
  const V ones = _mm512_set1_epi64(-1);
  V counted = _mm512_setzero_si512(), unsatisfied = _mm512_setzero_si512();
  V likeBy[9];  // per count of neighbours: the like neighbours of the agents with that count
  for (V& v : likeBy) v = _mm512_setzero_si512();
  V fewest[9][4];
  for (int n = 0; n <= 8; ++n) {
    for (int b = 0; b < 4; ++b) fewest[n][b] = _mm512_set1_epi64(std::int64_t(in.fewest[n][std::size_t(b)]));
  }
  for (std::int32_t row = 0; row < in.rows; ++row) {
    const std::size_t above = std::size_t(row == 0 ? in.rows - 1 : row - 1) * in.words;
    const std::size_t here = std::size_t(row) * in.words;
    const std::size_t below = std::size_t(row == in.rows - 1 ? 0 : row + 1) * in.words;
    for (std::size_t k = 0; k < in.words; k += 8) {
      // Past a row's last word, lanes of nothing: no agent there counts.
      const __mmask8 m = in.words - k >= 8 ? __mmask8(0xff) : __mmask8((1u << (in.words - k)) - 1);
      const V black = _mm512_maskz_loadu_epi64(m, in.occupancy[0] + here + k);
      const V white = _mm512_maskz_loadu_epi64(m, in.occupancy[1] + here + k);
      const V agents = black | white;
      V count[2][4];
      for (int colour = 0; colour < 2; ++colour) {
        const V a0 = _mm512_maskz_loadu_epi64(m, in.three[colour][0] + above + k);
        const V a1 = _mm512_maskz_loadu_epi64(m, in.three[colour][1] + above + k);
        const V b0 = _mm512_maskz_loadu_epi64(m, in.two[colour][0] + here + k);
        const V b1 = _mm512_maskz_loadu_epi64(m, in.two[colour][1] + here + k);
        const V c0 = _mm512_maskz_loadu_epi64(m, in.three[colour][0] + below + k);
        const V c1 = _mm512_maskz_loadu_epi64(m, in.three[colour][1] + below + k);
        const V t0 = a0 ^ b0, k0 = a0 & b0;
        const V t1 = _mm512_ternarylogic_epi64(a1, b1, k0, 0x96), t2 = _mm512_ternarylogic_epi64(a1, b1, k0, 0xE8);
        const V k1 = t0 & c0, k2 = _mm512_ternarylogic_epi64(t1, c1, k1, 0xE8);
        count[colour][0] = t0 ^ c0;
        count[colour][1] = _mm512_ternarylogic_epi64(t1, c1, k1, 0x96);
        count[colour][2] = t2 ^ k2;
        count[colour][3] = t2 & k2;
      }
      V all[4], like[4];
      V carry = _mm512_setzero_si512();
      for (int b = 0; b < 4; ++b) {
        const V x = count[0][b], y = count[1][b];
        all[b] = _mm512_ternarylogic_epi64(x, y, carry, 0x96);
        carry = _mm512_ternarylogic_epi64(x, y, carry, 0xE8);
        like[b] = (black & x) | (white & y);
      }
      const V bit[3][2] = {{~all[0], all[0]}, {~all[1], all[1]}, {~all[2], all[2]}};
      const V belowEight = agents & ~all[3];
      V least[4];
      const V alone = belowEight & ~(all[0] | all[1] | all[2]);
      for (int b = 0; b < 4; ++b) least[b] = alone & fewest[0][b];
#pragma GCC unroll 8
      for (int n = 1; n <= 8; ++n) {
        const V with = n == 8 ? agents & all[3] : belowEight & bit[0][n & 1] & bit[1][(n >> 1) & 1] & bit[2][n >> 2];
        counted += _mm512_popcnt_epi64(with);
        for (int b = 0; b < 4 && (1 << b) <= n; ++b) {
          likeBy[n] += _mm512_popcnt_epi64(with & like[b]) << b;
        }
        for (int b = 0; b < 4; ++b) least[b] |= with & fewest[n][b];
      }
      // The lanes whose like count is below the least that satisfies, from the top bit.
      V less = _mm512_setzero_si512(), equal = ones;
      for (int i = 3; i >= 0; --i) {
        less |= equal & ~like[i] & least[i];
        equal &= ~(like[i] ^ least[i]);
      }
      unsatisfied += _mm512_popcnt_epi64(agents & less);
    }
  }
  const auto sum = [](const std::int64_t* lanes) {
    std::int64_t total = 0;
    for (int i = 0; i < 8; ++i) total += lanes[i];
    return total;
  };
  std::int64_t lanes[8];
  SimilarSums sums;
  _mm512_storeu_si512(lanes, counted);
  sums.counted = sum(lanes);
  for (int n = 1; n <= 8; ++n) {
    _mm512_storeu_si512(lanes, likeBy[n]);
    sums.shares += sum(lanes) * (kShareUnit / n);
  }
  _mm512_storeu_si512(lanes, unsatisfied);
  sums.unsatisfied = sum(lanes);
  return sums;
}

SimilarSums AddSimilar(const SimilarInput& in) {
  static const int kind = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq") ? 2
                          : __builtin_cpu_supports("popcnt")                                             ? 1
                                                                                                         : 0;
  const int allowed = AllowedRegisters(kind);
  return allowed == 2 ? AddSimilarWide(in) : allowed == 1 ? AddSimilarPopcnt(in) : AddSimilarPortable(in);
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

// A cell's part in its neighbours' byte: occupied | white << 4.
constexpr std::uint8_t Part(std::uint8_t state) { return std::uint8_t((state + 1) / 2 + (state / 2) * 16); }

struct Share {
  std::int64_t share = 0;
  std::int64_t counted = 0;
};

// The like and occupied neighbours of the agent on a cell of this byte (1 black, 2 white) with
// this neighbours' byte; false for a byte no grid gives.
bool NeighboursOf(int state, int neighbours, int& like, int& occupied) {
  occupied = neighbours & 15;
  const int white = neighbours >> 4;
  like = state == 2 ? white : occupied - white;
  return occupied <= 8 && white <= occupied;
}

// An agent's like share in ShareUnit-ths, times two, plus one where it has a neighbour, by its
// cell's byte and its neighbours' byte: one lookup, no branch.
struct ShareTable {
  std::array<std::array<std::int32_t, 256>, 3> of{};
  ShareTable() {
    static constexpr std::array<std::int32_t, 9> unit = {0, 840, 420, 280, 210, 168, 140, 120, 105};
    for (int state = 1; state <= 2; ++state) {
      for (int neighbours = 0; neighbours < 256; ++neighbours) {
        int like, occupied;
        if (!NeighboursOf(state, neighbours, like, occupied) || occupied == 0) continue;
        of[std::size_t(state)][std::size_t(neighbours)] = 2 * like * unit[std::size_t(occupied)] + 1;
      }
    }
  }
};

inline Share ShareOf(std::uint8_t state, std::uint8_t neighbours) {
  static const ShareTable table;
  const std::int32_t v = table.of[state][neighbours];
  return {v >> 1, v & 1};
}

// The neighbours in the order Around gives them: NW, N, NE, W, E, SW, S, SE. Two of them touch
// when they differ by at most one step either way.
constexpr int kDc[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr int kDr[8] = {-1, -1, -1, 0, 0, 1, 1, 1};

// For each set of neighbours (bit d: neighbour d), the group of each neighbour in it: groups
// are the sets joined through neighbours that touch, numbered from 0 in order of their first
// neighbour; 0xff for a neighbour not in the set. The last entry is the number of groups.
struct RingGroups {
  std::array<std::array<std::uint8_t, 9>, 256> of{};
  RingGroups() {
    for (int set = 0; set < 256; ++set) {
      std::array<int, 8> group;
      group.fill(-1);
      int groups = 0;
      for (int d = 0; d < 8; ++d) {
        if (!((set >> d) & 1) || group[std::size_t(d)] >= 0) continue;
        // Spread a new group from d to every neighbour in the set that touches it.
        std::array<int, 8> stack{d};
        int top = 1;
        group[std::size_t(d)] = groups;
        while (top > 0) {
          const int e = stack[std::size_t(--top)];
          for (int f = 0; f < 8; ++f) {
            if (!((set >> f) & 1) || group[std::size_t(f)] >= 0) continue;
            if (std::abs(kDc[e] - kDc[f]) > 1 || std::abs(kDr[e] - kDr[f]) > 1) continue;
            group[std::size_t(f)] = groups;
            stack[std::size_t(top++)] = f;
          }
        }
        ++groups;
      }
      for (int d = 0; d < 8; ++d) of[std::size_t(set)][std::size_t(d)] = std::uint8_t(group[std::size_t(d)] < 0 ? 0xff : group[std::size_t(d)]);
      of[std::size_t(set)][8] = std::uint8_t(groups);
    }
  }
};

const RingGroups& Groups() {
  static const RingGroups groups;
  return groups;
}

}  // namespace

IncrementalMeasures::Rule IncrementalMeasures::RuleOf(double thresholdPercent) {
  Rule rule{};
  for (int n = 0; n <= 8; ++n) {
    int like = 0;
    while (like <= n && !detail::IsSatisfied(like, n - like, thresholdPercent)) ++like;
    rule[std::size_t(n)] = std::uint8_t(like > n ? 9 : like);
  }
  return rule;
}

void IncrementalMeasures::SetRule(const Rule& rule) {
  if (rule == rule_) return;
  rule_ = rule;
  for (std::size_t n = 0; n < rule.size(); ++n) {
    for (std::size_t b = 0; b < 4; ++b) fewest_[n][b] = (rule[n] >> b) & 1 ? ~Word(0) : 0;
  }
  for (int state = 1; state <= 2; ++state) {
    for (int neighbours = 0; neighbours < 256; ++neighbours) {
      int like, occupied;
      unsatisfiedBy_[std::size_t(state)][std::size_t(neighbours)] =
          NeighboursOf(state, neighbours, like, occupied) && like < rule[std::size_t(occupied)];
    }
  }
  if (!state_.empty()) {
    // Any agent may change sides: every occupied cell again, from the bytes kept.
    std::int64_t unsatisfied = 0;
    for (std::size_t k = 0; k < state_.size(); ++k) unsatisfied += unsatisfiedBy_[state_[k]][neighbours_[k]];
    unsatisfied_ = unsatisfied;
  } else if (!planes_.empty()) {
    CountSimilar();  // the bit planes of the last Rebuild stand
  }
}

void IncrementalMeasures::Rebuild(const std::uint8_t* occupancy, std::int32_t cols, std::int32_t rows, bool track) {
  cols_ = cols;
  rows_ = rows;
  PackPlanes(occupancy);
  AddShares();
  const std::size_t cells = std::size_t(cols) * std::size_t(rows);
  if (track) {
    state_.assign(occupancy, occupancy + cells);
    labels_.Clear(cells);
    CountNeighbours();
  } else {
    state_.clear();
  }
  clusters_ = LabelRuns(0, track) + LabelRuns(1, track);
}

namespace {

struct Packing {
  const std::uint8_t* occupancy;
  std::int32_t cols, rows;
  std::size_t words;
  Word* black;  // rows of words bit rows each
  Word* white;
};

void PackRowsPlain(const Packing& in) {
  for (std::int32_t row = 0; row < in.rows; ++row) {
    const std::uint8_t* cell = in.occupancy + std::size_t(row) * std::size_t(in.cols);
    for (std::size_t k = 0; k < in.words; ++k) {
      const std::int32_t first = std::int32_t(k * 64);
      const std::size_t at = std::size_t(row) * in.words + k;
      PackBytes(cell + first, std::min(64, in.cols - first), in.black[at], in.white[at]);
    }
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// 64 cells a comparison, each giving its word of bits as it stands.
[[gnu::target("avx512f,avx512bw")]] void PackRowsWide(const Packing& in) {
  const __m512i one = _mm512_set1_epi8(1), two = _mm512_set1_epi8(2);
  for (std::int32_t row = 0; row < in.rows; ++row) {
    const std::uint8_t* cell = in.occupancy + std::size_t(row) * std::size_t(in.cols);
    for (std::size_t k = 0; k < in.words; ++k) {
      const std::int32_t first = std::int32_t(k * 64), count = std::min(64, in.cols - first);
      const __mmask64 within = count == 64 ? ~__mmask64(0) : (__mmask64(1) << count) - 1;
      const __m512i v = _mm512_maskz_loadu_epi8(within, cell + first);
      const std::size_t at = std::size_t(row) * in.words + k;
      in.black[at] = _mm512_cmpeq_epi8_mask(v, one);
      in.white[at] = _mm512_cmpeq_epi8_mask(v, two);
    }
  }
}

void PackRows(const Packing& in) {
  static const bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  AllowedRegisters(wide ? 2 : 0) == 2 ? PackRowsWide(in) : PackRowsPlain(in);
}
#else
void PackRows(const Packing& in) { PackRowsPlain(in); }
#endif

}  // namespace

void IncrementalMeasures::PackPlanes(const std::uint8_t* occupancy) {
  words_ = (std::size_t(cols_) + 63) / 64;
  lastMask_ = cols_ % 64 == 0 ? ~Word(0) : (Word(1) << (cols_ % 64)) - 1;
  const std::size_t total = words_ * std::size_t(rows_);
  planes_.resize(2 * total);
  PackRows({occupancy, cols_, rows_, words_, planes_.data(), planes_.data() + total});
}

void IncrementalMeasures::AddShares() {
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

  CountSimilar();
}

void IncrementalMeasures::CountSimilar() {
  const SimilarInput in{{{three_[0][0].data(), three_[0][1].data()}, {three_[1][0].data(), three_[1][1].data()}},
                        {{two_[0][0].data(), two_[0][1].data()}, {two_[1][0].data(), two_[1][1].data()}},
                        {Plane(0), Plane(1)},
                        rows_,
                        words_,
                        fewest_.data()};
  const SimilarSums sums = AddSimilar(in);
  shares_ = sums.shares;
  counted_ = sums.counted;
  unsatisfied_ = sums.unsatisfied;
}

// Every cell's neighbour byte: the parts of its 3 x 3 block, less its own.
void IncrementalMeasures::CountNeighbours() {
  const std::size_t cols = std::size_t(cols_);
  neighbours_.resize(cols * std::size_t(rows_));
  std::vector<std::uint8_t> column(cols + 2);
  for (std::int32_t row = 0; row < rows_; ++row) {
    const std::uint8_t* here = &state_[std::size_t(row) * cols];
    const std::uint8_t* above = &state_[std::size_t(row == 0 ? rows_ - 1 : row - 1) * cols];
    const std::uint8_t* below = &state_[std::size_t(row == rows_ - 1 ? 0 : row + 1) * cols];
    for (std::size_t c = 0; c < cols; ++c) column[c + 1] = std::uint8_t(Part(above[c]) + Part(here[c]) + Part(below[c]));
    column[0] = column[cols];
    column[cols + 1] = column[1];
    std::uint8_t* out = &neighbours_[std::size_t(row) * cols];
    for (std::size_t c = 0; c < cols; ++c) {
      out[c] = std::uint8_t(column[c] + column[c + 1] + column[c + 2] - Part(here[c]));
    }
  }
}

namespace {

// A run's root, halving the path on the way.
inline std::int32_t FindRoot(std::int32_t* parent, std::int32_t run) {
  while (parent[run] != run) {
    parent[run] = parent[parent[run]];
    run = parent[run];
  }
  return run;
}

struct RunRows {
  const Word* plane;  // the colour's bit rows
  std::int32_t cols, rows;
  std::size_t words;
  std::int32_t* first;    // per run: first and last column, in order of rows
  std::int32_t* last;
  std::int32_t* rowRuns;  // per row: its first run; [rows]: the runs
  std::int32_t* parent;
  Word* edges;            // 4 * (words + 1): the starts and ends of two rows
  std::int32_t* before;   // 4 * (words + 1): their counts before each word
};

// Two rows' bits and the counts of the row above, for the joins of its runs through the row below.
struct RowPair {
  const Word* above;  // the rows' cells
  const Word* below;
  const Word* starts;  // the row above's starts and ends, and its starts before each word
  const Word* ends;
  const std::int32_t* startsBefore;
  std::size_t words;
  Word lastMask;
  std::int32_t first;  // the row above's first run
  std::int32_t* parent;
};

// The gaps of the row above that the row below covers throughout join the runs on either side:
// the carry of each gap's first cell, added to the gap's covered cells, lands on the start of the
// next run above only where nothing of the gap is left uncovered. Returns the joins made.
template <class Pop>
[[gnu::always_inline]] inline std::int64_t JoinAboveWith(const RowPair& in, Pop pop) {
  std::int64_t joined = 0;
  Word carry = 0;
  for (std::size_t k = 0; k < in.words; ++k) {
    const Word gaps = ~in.above[k] & (k + 1 < in.words ? ~Word(0) : in.lastMask);
    const Word first = ((in.ends[k] << 1) | (k > 0 ? in.ends[k - 1] >> 63 : 0)) & gaps;
    const Word covered = gaps & in.below[k];
    Word sum;
    const bool c1 = __builtin_add_overflow(covered, first & covered, &sum);
    const bool c2 = __builtin_add_overflow(sum, carry, &sum);
    carry = Word(c1 || c2);
    for (Word bridged = sum & ~covered & in.above[k]; bridged != 0; bridged &= bridged - 1) {
      const int at = std::countr_zero(bridged);
      const std::int32_t next = in.first + in.startsBefore[k] + pop(in.starts[k] & ((Word(1) << at) - 1));
      const std::int32_t p = FindRoot(in.parent, next - 1), q = FindRoot(in.parent, next);
      if (p == q) continue;
      in.parent[std::max(p, q)] = std::min(p, q);
      ++joined;
    }
  }
  return joined;
}

// The runs of every row, each joined to those of the row above that it overlaps or meets at a
// corner; returns the runs less the joins. Neither the torus's wrap nor the roots are done here:
// each run points to a run before it, or to itself.
//
// A run's starts and ends are bits (a cell of the run whose west, or east, neighbour is not), so
// the first run above that a run touches is two counts of bits, not a walk along the row: the
// runs above that end before its first column less one are passed, those that start by its last
// column plus one reached; it touches some where it reached more than it passed, and points
// where the first of them points. The runs above it touches lie one after another, and two
// neighbours among them are joined by it exactly where it covers the whole gap between them:
// those gaps are found for the whole row at once, by adding each gap's first cell to the row's
// cells below the gaps, whose carry runs to the next run above only through a gap covered
// throughout. So no branch of the joins depends on how the runs lie, but for the gaps covered.
template <class Pop>
[[gnu::always_inline]] inline std::int64_t JoinRowsWith(const RunRows& in, Pop pop) {
  const std::size_t n = in.words, stride = n + 1;
  const Word lastMask = in.cols % 64 == 0 ? ~Word(0) : (Word(1) << (in.cols % 64)) - 1;
  std::int32_t* const L = in.first;
  std::int32_t* const R = in.last;
  std::int32_t* const parent = in.parent;
  std::int32_t runs = 0;
  std::int64_t clusters = 0;
  for (std::int32_t row = 0; row < in.rows; ++row) {
    const std::size_t here = std::size_t(row & 1), above = here ^ 1;
    Word* const S = in.edges + here * 2 * stride;
    Word* const E = S + stride;
    std::int32_t* const sb = in.before + here * 2 * stride;
    std::int32_t* const eb = sb + stride;
    const Word* const x = in.plane + std::size_t(row) * n;
    in.rowRuns[row] = runs;
    std::int32_t ns = runs, ne = runs;
    for (std::size_t k = 0; k < n; ++k) {
      const Word w = x[k];
      Word s = w & ~((w << 1) | (k > 0 ? x[k - 1] >> 63 : 0));
      Word e = w & ~((w >> 1) | (k + 1 < n ? x[k + 1] << 63 : 0));
      S[k] = s;
      E[k] = e;
      sb[k] = ns - runs;
      eb[k] = ne - runs;
      const auto base = std::int32_t(k * 64);
      // Starts and ends in one loop: a word holds as many of each, give or take one; the
      // columns written past a word's own are written again by the next word, or not read.
      const int most = std::max(pop(s), pop(e));
      for (int i = 0; i < most; ++i) {
        L[ns + i] = base + std::countr_zero(s);
        R[ne + i] = base + std::countr_zero(e);
        s &= s - 1;
        e &= e - 1;
      }
      ns += pop(S[k]);
      ne += pop(E[k]);
    }
    S[n] = E[n] = 0;
    sb[n] = eb[n] = ns - runs;
    const std::int32_t b = runs;
    runs = ns;
    clusters += runs - b;
    if (row == 0) {
      for (std::int32_t j = b; j < runs; ++j) parent[j] = j;
      continue;
    }
    const Word* const pS = in.edges + above * 2 * stride;
    const Word* const pE = pS + stride;
    const std::int32_t* const psb = in.before + above * 2 * stride;
    const std::int32_t* const peb = psb + stride;
    const std::int32_t a = in.rowRuns[row - 1];
    for (std::int32_t j = b; j < runs; ++j) {
      const std::int32_t lo = std::max(L[j] - 1, 0), hi = R[j] + 2;
      const std::int32_t passed = peb[lo >> 6] + pop(pE[lo >> 6] & ((Word(1) << (lo & 63)) - 1));
      const std::int32_t reached = psb[hi >> 6] + pop(pS[hi >> 6] & ((Word(1) << (hi & 63)) - 1));
      const bool touches = passed < reached;
      // Where the run above points, that run's own chain begins: chains grow with joins alone.
      const std::int32_t up = parent[a + passed];
      parent[j] = j + ((up - j) & -std::int32_t(touches));  // no branch: touching is a coin toss
      clusters -= touches;
    }
    clusters -= JoinAboveWith(RowPair{x - n, x, pS, pE, psb, n, lastMask, a, parent}, pop);
  }
  in.rowRuns[in.rows] = runs;
  return clusters;
}

std::int64_t JoinRowsPortable(const RunRows& in) { return JoinRowsWith(in, PortableOnes{}); }

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("popcnt")]] std::int64_t JoinRowsPopcnt(const RunRows& in) { return JoinRowsWith(in, HardwareOnes{}); }

// JoinRowsWith, with a word's runs listed by one compression of its columns' numbers, and the
// first run above that each run touches found for eight runs at a time, their words and counts
// gathered. (Intrinsics that leave lanes undefined are avoided: the compiler warns of them.)
[[gnu::target("popcnt,avx2,avx512f,avx512vl,avx512bw,avx512vbmi,avx512vbmi2,avx512vpopcntdq")]] std::int64_t JoinRowsWide(
    const RunRows& in) {
  // Column numbers 0..63, and for each quarter of them, each one's byte moved to the low byte
  // of a 32-bit lane.
  alignas(64) static constexpr std::array<std::array<std::uint8_t, 64>, 5> kBytes = [] {
    std::array<std::array<std::uint8_t, 64>, 5> c{};
    for (std::size_t i = 0; i < 64; ++i) c[0][i] = std::uint8_t(i);
    for (std::size_t q = 0; q < 4; ++q) {
      for (std::size_t i = 0; i < 16; ++i) c[q + 1][4 * i] = std::uint8_t(16 * q + i);
    }
    return c;
  }();
  const __m512i columns = _mm512_load_si512(kBytes[0].data());
  const __mmask64 lowBytes = 0x1111111111111111u;
  const __m512i widen[4] = {_mm512_load_si512(kBytes[1].data()), _mm512_load_si512(kBytes[2].data()),
                            _mm512_load_si512(kBytes[3].data()), _mm512_load_si512(kBytes[4].data())};
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i one = _mm256_set1_epi32(1), two = _mm256_set1_epi32(2), low6 = _mm256_set1_epi32(63);
  const __m512i bit = _mm512_set1_epi64(1);
  const std::size_t n = in.words, stride = n + 1;
  const Word lastMask = in.cols % 64 == 0 ? ~Word(0) : (Word(1) << (in.cols % 64)) - 1;
  std::int32_t* const L = in.first;
  std::int32_t* const R = in.last;
  std::int32_t* const parent = in.parent;
  std::int32_t runs = 0;
  std::int64_t clusters = 0;
  for (std::int32_t row = 0; row < in.rows; ++row) {
    const std::size_t here = std::size_t(row & 1), above = here ^ 1;
    Word* const S = in.edges + here * 2 * stride;
    Word* const E = S + stride;
    std::int32_t* const sb = in.before + here * 2 * stride;
    std::int32_t* const eb = sb + stride;
    const Word* const x = in.plane + std::size_t(row) * n;
    in.rowRuns[row] = runs;
    std::int32_t ns = runs, ne = runs;
    for (std::size_t k = 0; k < n; ++k) {
      const Word w = x[k];
      const Word s = w & ~((w << 1) | (k > 0 ? x[k - 1] >> 63 : 0));
      const Word e = w & ~((w >> 1) | (k + 1 < n ? x[k + 1] << 63 : 0));
      S[k] = s;
      E[k] = e;
      sb[k] = ns - runs;
      eb[k] = ne - runs;
      // Sixteen columns written whatever the word holds: those past its runs are written again
      // by the next word, or not read; more than sixteen runs in a word are rare.
      const __m512i base = _mm512_set1_epi32(std::int32_t(k * 64));
      const __m512i starts = _mm512_maskz_compress_epi8(s, columns), ends = _mm512_maskz_compress_epi8(e, columns);
      const int cs = __builtin_popcountll(s), ce = __builtin_popcountll(e);
      _mm512_storeu_si512(L + ns, _mm512_add_epi32(_mm512_maskz_permutexvar_epi8(lowBytes, widen[0], starts), base));
      _mm512_storeu_si512(R + ne, _mm512_add_epi32(_mm512_maskz_permutexvar_epi8(lowBytes, widen[0], ends), base));
      if (cs > 16 || ce > 16) [[unlikely]] {
        for (int q = 1; q < 4 && 16 * q < cs; ++q) {
          _mm512_storeu_si512(L + ns + 16 * q, _mm512_add_epi32(_mm512_maskz_permutexvar_epi8(lowBytes, widen[q], starts), base));
        }
        for (int q = 1; q < 4 && 16 * q < ce; ++q) {
          _mm512_storeu_si512(R + ne + 16 * q, _mm512_add_epi32(_mm512_maskz_permutexvar_epi8(lowBytes, widen[q], ends), base));
        }
      }
      ns += cs;
      ne += ce;
    }
    S[n] = E[n] = 0;
    sb[n] = eb[n] = ns - runs;
    const std::int32_t b = runs;
    runs = ns;
    clusters += runs - b;
    if (row == 0) {
      for (std::int32_t j = b; j < runs; ++j) parent[j] = j;
      continue;
    }
    const Word* const pS = in.edges + above * 2 * stride;
    const Word* const pE = pS + stride;
    const std::int32_t* const psb = in.before + above * 2 * stride;
    const std::int32_t* const peb = psb + stride;
    const std::int32_t a = in.rowRuns[row - 1];
    for (std::int32_t j = b; j < runs; j += 8) {
      const __mmask8 m = runs - j >= 8 ? __mmask8(0xff) : __mmask8((1u << (runs - j)) - 1);
      const __m256i lo = _mm256_max_epi32(_mm256_sub_epi32(_mm256_maskz_loadu_epi32(m, L + j), one), _mm256_setzero_si256());
      const __m256i hi = _mm256_add_epi32(_mm256_maskz_loadu_epi32(m, R + j), two);
      const __m256i wordLo = _mm256_srli_epi32(lo, 6), wordHi = _mm256_srli_epi32(hi, 6);
      const __m512i endWords = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xff, wordLo, pE, 8);
      const __m512i startWords = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xff, wordHi, pS, 8);
      // By intrinsics, which wrap: the vector operators are signed, and 1 << 63, less 1, is an
      // overflow to them.
      const __m512i belowLo = _mm512_sub_epi64(_mm512_maskz_sllv_epi64(0xff, bit, _mm512_maskz_cvtepu32_epi64(0xff, _mm256_and_si256(lo, low6))), bit);
      const __m512i belowHi = _mm512_sub_epi64(_mm512_maskz_sllv_epi64(0xff, bit, _mm512_maskz_cvtepu32_epi64(0xff, _mm256_and_si256(hi, low6))), bit);
      const __m256i passed =
          _mm256_add_epi32(_mm256_mmask_i32gather_epi32(_mm256_setzero_si256(), 0xff, wordLo, peb, 4),
                           _mm512_maskz_cvtepi64_epi32(0xff, _mm512_popcnt_epi64(endWords & belowLo)));
      const __m256i reached =
          _mm256_add_epi32(_mm256_mmask_i32gather_epi32(_mm256_setzero_si256(), 0xff, wordHi, psb, 4),
                           _mm512_maskz_cvtepi64_epi32(0xff, _mm512_popcnt_epi64(startWords & belowHi)));
      const __mmask8 touches = _mm256_cmplt_epi32_mask(passed, reached) & m;
      const __m256i up = _mm256_mmask_i32gather_epi32(_mm256_setzero_si256(), touches, passed, parent + a, 4);
      const __m256i self = _mm256_add_epi32(_mm256_set1_epi32(j), lanes);
      _mm256_mask_storeu_epi32(parent + j, m, _mm256_mask_blend_epi32(touches, self, up));
      clusters -= __builtin_popcount(touches);
    }
    clusters -= JoinAboveWith(RowPair{x - n, x, pS, pE, psb, n, lastMask, a, parent}, HardwareOnes{});
  }
  in.rowRuns[in.rows] = runs;
  return clusters;
}

std::int64_t JoinRows(const RunRows& in) {
  static const int kind = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                                  __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
                                  __builtin_cpu_supports("avx512vbmi2") &&
                                  __builtin_cpu_supports("avx512vpopcntdq")
                              ? 2
                          : __builtin_cpu_supports("popcnt") ? 1
                                                             : 0;
  const int allowed = AllowedRegisters(kind);
  return allowed == 2 ? JoinRowsWide(in) : allowed == 1 ? JoinRowsPopcnt(in) : JoinRowsPortable(in);
}
#else
std::int64_t JoinRows(const RunRows& in) { return JoinRowsPortable(in); }
#endif

}  // namespace

namespace {

struct RunCells {
  std::int32_t* parent;
  const std::int32_t* first;
  const std::int32_t* last;
  const std::int32_t* rowRuns;
  std::int32_t rows, cols, offset;
  std::int32_t* label;  // per cell
  std::int32_t* size;   // per label
};

// Every cell of every run takes its root's label. A run's parent always comes before it, so in
// order each finds its root in one step.
#define ZELMORA_LABEL_CELLS(FILL)                                                          \
  for (std::int32_t row = 0; row < in.rows; ++row) {                                       \
    std::int32_t* at = in.label + std::size_t(row) * std::size_t(in.cols);                 \
    for (std::int32_t r = in.rowRuns[row]; r < in.rowRuns[row + 1]; ++r) {                 \
      const std::int32_t root = in.parent[in.parent[r]];                                   \
      const std::int32_t l = in.first[r], length = in.last[r] - l + 1, label = in.offset + root; \
      in.parent[r] = root;                                                                 \
      FILL;                                                                                \
      in.size[label] += length;                                                            \
    }                                                                                      \
  }

void LabelCellsPlain(const RunCells& in) { ZELMORA_LABEL_CELLS(std::fill_n(at + l, length, label)) }

#if defined(__x86_64__) && defined(__GNUC__)
// Runs are short, mostly one to three cells: one masked store of eight labels writes most, with
// no branch on their length.
[[gnu::target("avx2,avx512f,avx512vl")]] void LabelCellsMasked(const RunCells& in) {
  ZELMORA_LABEL_CELLS(for (std::int32_t i = 0; i < length; i += 8) {
    _mm256_mask_storeu_epi32(at + l + i, __mmask8((1u << std::min(length - i, 8)) - 1), _mm256_set1_epi32(label));
  })
}

void LabelCells(const RunCells& in) {
  static const bool masked = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  AllowedRegisters(masked ? 2 : 0) == 2 ? LabelCellsMasked(in) : LabelCellsPlain(in);
}
#else
void LabelCells(const RunCells& in) { LabelCellsPlain(in); }
#endif
#undef ZELMORA_LABEL_CELLS

}  // namespace

std::int32_t IncrementalMeasures::Find(std::int32_t run) { return FindRoot(parent_.data(), run); }

// The clusters of one colour: its runs joined where they touch. With label, every cell of the
// colour takes a label of its cluster (its root run, after those of the other colour).
std::int64_t IncrementalMeasures::LabelRuns(int colour, bool label) {
  // A row has at most one run in every two cells.
  const std::size_t most = std::size_t(rows_) * (std::size_t(cols_) / 2 + 1);
  runFirst_.resize(most + 64);  // room for the columns written past a word's runs
  runLast_.resize(most + 64);
  parent_.resize(most);
  rowRuns_.resize(std::size_t(rows_) + 1);
  edges_.resize(4 * (words_ + 1));
  edgesBefore_.resize(4 * (words_ + 1));
  std::int64_t clusters = JoinRows({Plane(colour), cols_, rows_, words_, runFirst_.data(), runLast_.data(),
                                    rowRuns_.data(), parent_.data(), edges_.data(), edgesBefore_.data()});
  const std::int32_t runs = rowRuns_[std::size_t(rows_)];

  const auto unite = [&](std::int32_t a, std::int32_t b) {
    a = Find(a);
    b = Find(b);
    if (a == b) return;
    parent_[std::size_t(std::max(a, b))] = std::min(a, b);
    --clusters;
  };
  const auto first = [&](std::int32_t r) { return rowRuns_[std::size_t(r)]; };
  const auto end = [&](std::int32_t r) { return rowRuns_[std::size_t(r) + 1]; };
  const std::int32_t* L = runFirst_.data();
  const std::int32_t* R = runLast_.data();
  std::int32_t* parent = parent_.data();
  // The last row meets the first one, also diagonally across the ends.
  const std::int32_t last = rows_ - 1;
  std::int32_t i = first(last), j = first(0);
  const std::int32_t iEnd = end(last), jEnd = end(0);
  if (i < iEnd && j < jEnd) {
    if (L[i] == 0 && R[jEnd - 1] == cols_ - 1) unite(i, jEnd - 1);
    if (R[iEnd - 1] == cols_ - 1 && L[j] == 0) unite(iEnd - 1, j);
  }
  while (i < iEnd && j < jEnd) {
    if (R[i] + 1 >= L[j] && R[j] + 1 >= L[i]) unite(i, j);
    const bool passI = R[i] < R[j];
    i += passI;
    j += !passI;
  }
  // Across each row's own ends, and diagonally across them between the other rows.
  for (std::int32_t row = 0; row < rows_; ++row) {
    const std::int32_t a = first(row), aEnd = end(row);
    if (a < aEnd && L[a] == 0 && R[aEnd - 1] == cols_ - 1) unite(a, aEnd - 1);
    if (row == last) continue;
    const std::int32_t b = first(row + 1), bEnd = end(row + 1);
    if (a == aEnd || b == bEnd) continue;
    if (L[a] == 0 && R[bEnd - 1] == cols_ - 1) unite(a, bEnd - 1);
    if (R[aEnd - 1] == cols_ - 1 && L[b] == 0) unite(aEnd - 1, b);
  }
  if (!label) return clusters;

  // A label a run: those of the runs that are not roots stay spare.
  const std::int32_t offset = labels_.AddLabels(std::size_t(runs));
  LabelCells({parent, L, R, rowRuns_.data(), rows_, cols_, offset, labels_.Labels(), labels_.Sizes()});
  labels_.SpareUnused(offset);
  return clusters;
}

// The eight neighbours of cell k on the torus: NW, N, NE, W, E, SW, S, SE.
void IncrementalMeasures::Around(std::size_t k, Ring& ring) const {
  const std::size_t cols = std::size_t(cols_);
  const std::size_t row = std::uint32_t(k) / std::uint32_t(cols), col = k - row * cols;
  const std::size_t left = col == 0 ? cols - 1 : col - 1, right = col + 1 == cols ? 0 : col + 1;
  const std::size_t here = row * cols;
  const std::size_t above = (row == 0 ? std::size_t(rows_) - 1 : row - 1) * cols;
  const std::size_t below = (row + 1 == std::size_t(rows_) ? 0 : row + 1) * cols;
  ring = {above + left, above + col, above + right, here + left, here + right, below + left, below + col, below + right};
}

bool IncrementalMeasures::Update(const std::uint8_t* now) {
  const std::size_t cells = state_.size();
  const std::size_t most = cells / 24;  // past these, Rebuild costs less
  changed_.clear();
  std::size_t k = 0;
#if defined(__SSE2__)
  // In stretches, so that a busy step gives up once the changes are too many, not after listing
  // them all.
  for (std::size_t stretch = 0; stretch + 16 <= cells; stretch += 4096) {
    if (changed_.size() > most) return false;
    for (const std::size_t end = std::min(stretch + 4096, cells & ~std::size_t(15)); k < end; k += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state_[k]));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(now + k));
      for (unsigned differ = ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) & 0xffffu; differ != 0;
           differ &= differ - 1) {
        changed_.push_back(std::uint32_t(k) + std::uint32_t(std::countr_zero(differ)));
      }
    }
  }
#endif
  for (; k < cells; ++k) {
    if (state_[k] != now[k]) changed_.push_back(std::uint32_t(k));
  }
  if (changed_.size() > most) return false;

  // One cell after another, each a grid of its own: its agent leaves, then the new one comes.
  // (Fetching the blocks' lines ahead as well compiles to nothing unless forced in, and forced
  // in it costs more on grids that stay in cache than it saves on larger ones.)
  constexpr std::size_t ahead = 3;
  Ring ring;
  for (std::size_t j = 0; j < changed_.size(); ++j) {
    // The size of the cluster a cell a few changes ahead leaves.
    if (j + ahead < changed_.size() && state_[changed_[j + ahead]] != 0) labels_.FetchSizeOf(changed_[j + ahead]);
    const std::uint32_t c = changed_[j];
    const std::uint8_t from = state_[c], to = now[c];
    Around(c, ring);
    ChangeShares(c, to, ring);
    if (from != 0) Leave(c, from, ring);
    if (to != 0) Join(c, to, ring);
  }
  return true;
}

// One cell's change in the shares and unsatisfied agents of its block and in its neighbours'
// bytes.
void IncrementalMeasures::ChangeShares(std::size_t k, std::uint8_t to, const Ring& ring) {
  const auto add = [&](std::int64_t sign) {
    Share s = ShareOf(state_[k], neighbours_[k]);
    std::int64_t unsatisfied = unsatisfiedBy_[state_[k]][neighbours_[k]];
    for (const std::size_t n : ring) {
      const Share t = ShareOf(state_[n], neighbours_[n]);
      s.share += t.share;
      s.counted += t.counted;
      unsatisfied += unsatisfiedBy_[state_[n]][neighbours_[n]];
    }
    shares_ += sign * s.share;
    counted_ += sign * s.counted;
    unsatisfied_ += sign * unsatisfied;
  };
  add(-1);
  const std::uint8_t delta = std::uint8_t(Part(to) - Part(state_[k]));
  state_[k] = to;
  for (const std::size_t n : ring) neighbours_[n] = std::uint8_t(neighbours_[n] + delta);
  add(1);
}

// The neighbourhood of the cluster labels: the ring of each cell they visit.
auto IncrementalMeasures::Visitor() const {
  return [this](std::size_t x, const auto& visit) {
    Ring ring;
    Around(x, ring);
    for (const std::size_t n : ring) visit(n);
  };
}

// An agent of this colour has left cell k (already free, or of the other colour, in state_).
void IncrementalMeasures::Leave(std::size_t k, std::uint8_t colour, const Ring& ring) {
  unsigned set = 0;
  for (int d = 0; d < 8; ++d) set |= unsigned(state_[ring[std::size_t(d)]] == colour) << d;
  const auto& groups = Groups().of[set];
  const int count = groups[8];
  std::array<std::uint32_t, 4> starts;  // the first neighbour of each group
  if (count > 1) {
    for (int d = 7; d >= 0; --d) {
      const int g = groups[std::size_t(d)];
      if (g != 0xff) starts[std::size_t(g)] = std::uint32_t(ring[std::size_t(d)]);
    }
  }
  clusters_ += labels_.Leave(k, colour, count, starts, state_.data(), Visitor());
}

// An agent of this colour has come to cell k (set in state_).
void IncrementalMeasures::Join(std::size_t k, std::uint8_t colour, const Ring& ring) {
  const auto nearby = [&](const auto& visit) {
    for (const std::size_t n : ring) visit(n);
  };
  clusters_ += labels_.Join(k, colour, state_.data(), nearby, Visitor());
}

}  // namespace zelmora
