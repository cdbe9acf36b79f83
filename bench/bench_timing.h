// What the C++ benchmarks time with: the wall time of one run, and the median of several.
#ifndef TULM_BENCH_BENCH_TIMING_H
#define TULM_BENCH_BENCH_TIMING_H

#include <algorithm>
#include <chrono>
#include <vector>

namespace tulm_bench {

// Wall seconds that work() takes.
template <class Work>
double seconds(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The middle value (the upper one of an even count).
inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace tulm_bench

#endif  // TULM_BENCH_BENCH_TIMING_H
