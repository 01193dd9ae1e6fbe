#pragma once

#include "Color.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelmora {

// One drawing item in data units, fields in their stored order.
struct ChartItem {
  double x1 = 0;  // start of a line, or the target of a pen move
  double y1 = 0;
  double x2 = 0;  // end of a line (a pen move leaves it alone)
  double y2 = 0;
  TColor colour = 0;             // DataColor when added
  std::uint8_t penStyle = 0;     // PenStyle when added
  std::int32_t lineWidth = 1;    // LineWidth when added
  std::uint8_t itemClass = 0;    // ClassDefault when added
  std::uint8_t kind = 0;         // kindLine or kindMovePen
  std::int32_t layer = 1;        // CurrentLayer when added: 1 or 2
};

// The chart's items in the order added, in one contiguous block that grows by
// AllocSize slots whenever it is full.
class ItemStore {
 public:
  static constexpr int kDefaultAllocSize = 1000;
  static constexpr int kMaxAllocSize = 1000000;

  int AllocSize() const { return allocSize_; }
  // Values outside 1..1,000,000 are ignored.
  void SetAllocSize(int v);

  std::size_t Count() const { return count_; }
  std::size_t Capacity() const { return capacity_; }

  // Appends; a full store first grows by AllocSize slots, keeping its items.
  // If that memory cannot be had, std::bad_alloc passes to the caller and the
  // store is as before.
  void Add(const ChartItem& item);

  // Count 0, capacity 0 and the storage given back: the next Add allocates
  // AllocSize slots anew.
  void Clear();

  const ChartItem& operator[](std::size_t i) const { return items_[i]; }
  const ChartItem* begin() const { return items_.get(); }
  const ChartItem* end() const { return items_.get() + count_; }

 private:
  std::unique_ptr<ChartItem[]> items_;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
  int allocSize_ = kDefaultAllocSize;
};

}  // namespace zelmora
