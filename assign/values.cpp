#include <algorithm>
#include <cmath>
#include <utility>

#include "assign/run.h"

namespace assign {
namespace {

inline float classWeightOf(const ValueRecord& r) {
  return r.weight == -1.0f ? 1.0f : r.weight;
}

// The class of a value: truncated toward zero. Kept as a double, which holds every truncated
// float exactly, so that no class is too large to be told apart from its neighbours.
inline double classOf(float v) {
  return std::trunc(static_cast<double>(v));
}

}  // namespace

float combineClasses(std::span<const ValueRecord> list, RunMethod m, int32_t top, float nodata) {
  // MAJORITY and MINORITY: classes 1, 2, ... with their weight totals; on equal totals the
  // lowest class wins. Totals are summed in list order.
  std::vector<std::pair<double, float>> classes;
  float total = 0.0f;
  for (const auto& r : list) {
    if (r.priority != top) continue;
    const float w = classWeightOf(r);
    total += w;
    const double c = classOf(r.value);
    if (c >= 1) classes.emplace_back(c, w);
  }
  if (classes.empty()) return nodata;
  std::stable_sort(classes.begin(), classes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  const bool majority = m == RunMethod::Majority;
  float best = majority ? 0.0f : total + 1.0f;
  double chosen = 0;
  bool found = false;
  for (size_t i = 0; i < classes.size();) {
    const double c = classes[i].first;
    float t = 0.0f;
    for (; i < classes.size() && classes[i].first == c; ++i) t += classes[i].second;
    if (majority ? t > best : t < best) {
      best = t;
      chosen = c;
      found = true;
    }
  }
  return found ? static_cast<float>(chosen) : nodata;
}

}  // namespace assign

namespace assign {

int32_t winningSet(const std::vector<ValueRecord>& list, const std::vector<SetRun>& runs, const RunSettings& settings,
                   float result) {
  if (runs.empty()) return kSourceCombined;
  if (runs.size() == 1) return runs[0].set;
  // Only the sets of the highest priority present count.
  auto priorityOf = [&](const SetRun& r) { return list[r.begin].priority; };
  int32_t top = priorityOf(runs[0]), topSet = runs[0].set, atTop = 0;
  for (const auto& r : runs) {
    const int32_t p = priorityOf(r);
    if (p > top) {
      top = p;
      topSet = r.set;
      atTop = 1;
    } else if (p == top) {
      atTop += 1;
      if (atTop == 1) topSet = r.set;
    }
  }
  const RunMethod m = settings.method;
  // AVERAGE: the one set of the winning priority, or several made the value together.
  if (m == RunMethod::Average) return atTop == 1 ? topSet : kSourceCombined;
  if (m == RunMethod::Maximum || m == RunMethod::Minimum) {
    // The first record of the winning priority that holds the value kept, as the combination
    // keeps it.
    const bool max = m == RunMethod::Maximum;
    const ValueRecord* best = nullptr;
    int32_t set = kSourceCombined;
    for (const auto& r : runs) {
      if (priorityOf(r) != top) continue;
      for (uint32_t k = r.begin; k < r.end; ++k) {
        if (!best || (max ? list[k].value > best->value : list[k].value < best->value)) {
          best = &list[k];
          set = r.set;
        }
      }
    }
    return set;
  }
  // AVERAGE: every set of the winning priority; MAJORITY and MINORITY: those with a value in
  // the chosen class.
  const bool classes = m == RunMethod::Majority || m == RunMethod::Minority;
  const double chosen = result;
  int32_t found = kSourceCombined;
  for (const auto& r : runs) {
    if (priorityOf(r) != top) continue;
    if (classes) {
      bool inClass = false;
      for (uint32_t k = r.begin; k < r.end && !inClass; ++k) inClass = classOf(list[k].value) == chosen;
      if (!inClass) continue;
    }
    if (found != kSourceCombined) return kSourceCombined;
    found = r.set;
  }
  return found;
}

}  // namespace assign
