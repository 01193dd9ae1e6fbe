#include "ItemStore.h"

#include <algorithm>

namespace zelmora {

void ItemStore::SetAllocSize(int v) {
  if (v >= 1 && v <= kMaxAllocSize) allocSize_ = v;
}

void ItemStore::Add(const ChartItem& item) {
  if (count_ == capacity_) {
    const std::size_t grown = capacity_ + static_cast<std::size_t>(allocSize_);
    auto bigger = std::make_unique_for_overwrite<ChartItem[]>(grown);
    std::copy_n(items_.get(), count_, bigger.get());
    items_ = std::move(bigger);
    capacity_ = grown;
  }
  items_[count_++] = item;
}

void ItemStore::Clear() {
  items_.reset();
  count_ = 0;
  capacity_ = 0;
}

}  // namespace zelmora
