#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

// Arithmetic that the plain and the fast phases share, so both round and raise alike.
namespace zelmora::detail {

// Round to nearest, halves to even (the default floating-point rounding mode), saturated to
// the 32-bit range.
inline std::int32_t RoundToInt32(double v) {
  const double r = std::nearbyint(v);
  if (!(r >= -2147483648.0)) return std::numeric_limits<std::int32_t>::min();
  if (r > 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(r);
}

// base^exponent by the rules of a real power: exponent 0 gives 1, a whole exponent the
// integer power, any other exp(exponent * ln base). base is a positive customer count.
inline double Power(double base, double exponent) {
  if (exponent == 0.0) return 1.0;
  if (exponent == std::trunc(exponent) && std::fabs(exponent) < 2147483647.0) {
    return std::pow(base, exponent);
  }
  return std::exp(exponent * std::log(base));
}

// A market's bid price from its customers: customers / customers^returns * production cost, the
// quotient first; production cost alone without customers.
inline double UnitCost(std::int32_t customers, double returnsToScale, double productionCost) {
  if (customers <= 0) return productionCost;
  const double c = customers;
  return c / Power(c, returnsToScale) * productionCost;
}

// The segregation rule for one agent: strictly more like neighbours, in percent, than the
// threshold, 100 * same > T * n with n = same + other; no neighbour at all gives a share of 0.
// Decided exactly: the fused product-difference is rounded once, and a rounding keeps the sign,
// so a like share that equals the threshold (7 of 100 against 7 %) never counts as above it.
inline bool IsSatisfied(std::int32_t same, std::int32_t other, double thresholdPercent) {
  const std::int32_t total = same + other;
  if (total <= 0) return 0.0 > thresholdPercent;
  return std::fma(-thresholdPercent, double(total), 100.0 * double(same)) > 0.0;
}

// Stores only what differs: the value nearly always stands already, and a line left clean need
// not be written back to memory.
template <typename T>
inline void StoreIfChanged(T& field, T value) {
  if (field != value) field = value;
}

// The free price of an occupied cell: no price is below it.
inline constexpr double Taken = std::numeric_limits<double>::infinity();

// A cell's neighbour counts in one byte, same | other << 4; UnknownCounts where the cell holds
// counts outside 0..8 (only an edit can put them there).
inline constexpr std::uint8_t UnknownCounts = 0xff;

inline std::uint8_t PackCounts(std::int32_t same, std::int32_t other) {
  if (same < 0 || same > 8 || other < 0 || other > 8) return UnknownCounts;
  return std::uint8_t(same | other << 4);
}

// The sum of price(0) .. price(n - 1) in four lanes taken in turn, so the additions need not wait
// for each other; always in this order, so every caller gets the same bits for the same prices.
template <class Price>
double SumInLanes(std::size_t n, Price price) {
  double sum[4] = {0.0, 0.0, 0.0, 0.0};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    for (std::size_t j = 0; j < 4; ++j) sum[j] += price(i + j);
  }
  for (; i < n; ++i) sum[0] += price(i);
  return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

}  // namespace zelmora::detail
