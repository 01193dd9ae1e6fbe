#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelmora::python {

namespace py = pybind11;

// The state arrays an owner has handed out since its state last changed, by their place in the
// table of DefineStateArrays: reading one again gives the same array, without copying.
class ArrayCache {
 public:
  // Array `which` of the state `version`: the one made for that state, or make(reuse)'s, where
  // reuse is the array made for an earlier state if nobody else holds it (its memory may be
  // written again unseen), else None.
  template <class Make>
  py::object Get(std::size_t which, std::uint64_t version, Make&& make) {
    if (kept_.size() <= which) kept_.resize(which + 1);
    Kept& kept = kept_[which];
    if (!kept.array || kept.version != version) {
      py::object reuse;
      if (kept.array && kept.array.ref_count() == 1) reuse = std::move(kept.array);
      kept.array = make(std::move(reuse));
      kept.version = version;
    }
    return kept.array;
  }

 private:
  struct Kept {
    std::uint64_t version = 0;
    py::object array;
  };
  std::vector<Kept> kept_;
};

// The World's state as read-only NumPy arrays, and its grid and counters, on a class whose objects
// give `const World& Model()`, `ArrayCache& Arrays()` and `std::uint64_t StateVersion()` (a
// number that changes with every step, setup or configuration). Every array is a copy, contiguous
// in C order, made at its first read after such a change (never while the World steps) and given
// again until the next: it keeps its values when the World goes on. Writing to one raises
// ValueError.
template <class Owner>
void DefineStateArrays(py::class_<Owner>& world);

}  // namespace zelmora::python
