#pragma once
// Work split over the cores: a job per core, joined before the caller goes on.
#include <cstddef>
#include <thread>
#include <vector>

namespace frame {

// job(0) .. job(cores - 1), each on a core of its own: job(0) on this thread, the others on
// helper threads; returns when all are done.
template <typename Job>
void onCores(size_t cores, Job job) {
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < cores; ++t) helpers.emplace_back(job, t);
  job(size_t{0});
  for (auto& h : helpers) h.join();
}

}  // namespace frame
