#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zelmora {

// Allocates large blocks on 2 MiB boundaries and asks the kernel to back them with huge pages.
// A big grid is searched at random places; with 4 KiB pages nearly every probe would also miss
// the address translation cache.
template <typename T>
class LargePageAllocator {
 public:
  using value_type = T;
  static constexpr std::size_t kHugePage = std::size_t(2) << 20;

  LargePageAllocator() = default;
  template <typename U>
  LargePageAllocator(const LargePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) return static_cast<T*>(::operator new(bytes));
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages the grid still works
#endif
    return static_cast<T*>(p);
  }

  void deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < kHugePage) {
      ::operator delete(p);
    } else {
      std::free(p);
    }
  }

  template <typename U>
  bool operator==(const LargePageAllocator<U>&) const {
    return true;
  }
};

}  // namespace zelmora
