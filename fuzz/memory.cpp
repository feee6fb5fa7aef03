// The fuzzed runs live in one process under the sanitizers, where an allocation larger than
// the machine can give aborts instead of throwing std::bad_alloc. A header that asks for a
// grid of tens of gigabytes is exactly what the program must answer with its memory message,
// so here every single allocation beyond 1 GiB is refused as a machine without that memory
// would refuse it: by throwing std::bad_alloc.
//
// GDAL allocates with malloc and calloc, not new. A damaged GeoTIFF can declare blocks of tens
// of gigabytes (a 65530 x 8 grid with thousands of interleaved samples); GDAL then asks calloc for
// the block and reports "out of memory" when it gets nothing back. Under the address sanitizer
// that request aborts the process instead, so the sanitizer is told to answer the same way the
// machine would: requests beyond 1 GiB give a null pointer.
#include <cstdlib>
#include <new>

namespace {
constexpr std::size_t kLargest = std::size_t{1} << 30;

void* take(std::size_t n) {
  if (n > kLargest) throw std::bad_alloc();
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* tryTake(std::size_t n) noexcept {
  if (n > kLargest) return nullptr;
  return std::malloc(n == 0 ? 1 : n);
}
}  // namespace

void* operator new(std::size_t n) {
  return take(n);
}
void* operator new[](std::size_t n) {
  return take(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return tryTake(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return tryTake(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
