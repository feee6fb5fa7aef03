#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <thread>
#include <utility>
#include <vector>

namespace grid {

// An allocator whose resize leaves new elements unwritten: a grid's values are read from a file
// into their places by several threads, and zeroing them first would touch every page once on
// one thread before the readers write it on theirs. Whoever resizes writes every element.
template <class T>
struct UnfilledAllocator : std::allocator<T> {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = UnfilledAllocator<U>;
  };
  UnfilledAllocator() noexcept = default;
  template <class U>
  UnfilledAllocator(const UnfilledAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
template <class T, class U>
bool operator==(const UnfilledAllocator<T>&, const UnfilledAllocator<U>&) noexcept {
  return true;
}

// A grid's values, one float a cell.
using CellValues = std::vector<float, UnfilledAllocator<float>>;
// The structure's mask, one byte a cell.
using CellMask = std::vector<uint8_t, UnfilledAllocator<uint8_t>>;

// Asks the kernel to back the whole 2 MiB pages of a large block with huge pages when it is
// first touched: a grid of 64 MB then takes 32 page faults instead of 16,000, which on a
// virtual machine cost more than filling the memory itself. Small blocks are left alone.
void adviseHugePages(const void* p, size_t bytes);

// Gives v room for n elements, advised as above, before it is filled (assign, resize): the
// pages are faulted in by the fill, not before. An existing large enough block is kept.
template <class T, class A>
void roomForFill(std::vector<T, A>& v, size_t n) {
  if (v.capacity() < n) {
    std::vector<T, A>().swap(v);
    v.reserve(n);
  }
  adviseHugePages(v.data(), n * sizeof(T));
}

// Work on large blocks that runs on a second thread while the main thread goes on: the first
// fill of the structure's rows, whose fresh pages the kernel clears at a pace a virtual machine
// may make slower than reading the sets that follow. The tasks run one after the other in the
// order given; settle() waits for all of them. Whoever gives a task leaves the memory it writes
// alone until settle() has returned.
class BlockWork {
 public:
  BlockWork() = default;
  BlockWork(const BlockWork&) = delete;
  BlockWork& operator=(const BlockWork&) = delete;
  // A structure moved takes its work along: the blocks written move with their vectors.
  BlockWork(BlockWork&&) noexcept = default;
  BlockWork& operator=(BlockWork&& o) noexcept {
    settle();
    worker_ = std::move(o.worker_);
    return *this;
  }
  ~BlockWork() { settle(); }
  void then(std::function<void()> task);
  void settle();

 private:
  std::thread worker_;
};

}  // namespace grid
