#pragma once
#include <cstddef>
#include <vector>

namespace grid {

// Asks the kernel to back the whole 2 MiB pages of a large block with huge pages when it is
// first touched: a grid of 64 MB then takes 32 page faults instead of 16,000, which on a
// virtual machine cost more than filling the memory itself. Small blocks are left alone.
void adviseHugePages(const void* p, size_t bytes);

// Gives v room for n elements, advised as above, before it is filled (assign, resize): the
// pages are faulted in by the fill, not before. An existing large enough block is kept.
template <class T>
void roomForFill(std::vector<T>& v, size_t n) {
  if (v.capacity() < n) {
    std::vector<T>().swap(v);
    v.reserve(n);
  }
  adviseHugePages(v.data(), n * sizeof(T));
}

}  // namespace grid
