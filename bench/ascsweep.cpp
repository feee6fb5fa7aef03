// Checks the ASC value formatter against the first one over a sweep of float bit patterns:
// every step-th pattern of all 2^32 (default step 41, some 10^8 patterns), from a start that
// moves with the seed, on every core. Prints the count and exits 1 on the first difference.
//
//   ascsweep [step] [seed]
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "grid/writer.h"
#include "tests/grid/asc_reference.h"

int main(int argc, char** argv) {
  const uint64_t step = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 41;
  const uint64_t start = (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0) % step;
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::atomic<uint64_t> checked{0};
  std::atomic<bool> differ{false};
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      std::string fast, first;
      uint64_t n = 0;
      for (uint64_t b = start + t * step; b < (uint64_t{1} << 32) && !differ; b += threads * step) {
        const uint32_t bits = static_cast<uint32_t>(b);
        float v;
        std::memcpy(&v, &bits, 4);
        fast.clear();
        first.clear();
        grid::appendAscValue(fast, v);
        asc_reference::appendAscValue(first, v);
        if (fast != first) {
          std::fprintf(stderr, "bits %08x: \"%s\" instead of \"%s\"\n", bits, fast.c_str(), first.c_str());
          differ = true;
        }
        ++n;
      }
      checked += n;
    });
  }
  for (auto& t : pool) t.join();
  std::printf("%llu float bit patterns: %s\n", static_cast<unsigned long long>(checked.load()),
              differ ? "DIFFERENT" : "same characters");
  return differ ? 1 : 0;
}
