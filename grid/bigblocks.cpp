#include "grid/bigblocks.h"

#include <sys/mman.h>

#include <cstdint>
#include <system_error>

namespace grid {

void adviseHugePages(const void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (bytes < 2 * kHuge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  // Only advice: where the kernel has no huge pages to give, the block gets ordinary ones.
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

void BlockWork::then(std::function<void()> task) {
  // The new task's thread first waits for the one before: the tasks keep their order.
  auto previous = std::make_shared<std::thread>(std::move(worker_));
  try {
    worker_ = std::thread([previous, task]() {
      if (previous->joinable()) previous->join();
      task();
    });
  } catch (const std::system_error&) {
    // No thread to be had: the task is done here and now.
    if (previous->joinable()) previous->join();
    task();
  }
}

void BlockWork::settle() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace grid
