// Registration of every benchmark. A smoke run registers the same benchmarks with the
// smallest work that still runs each of them once.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

void RegisterSendBenchmarks(bool smoke);
void RegisterStreamBenchmarks(bool smoke);
void RegisterEnumerationBenchmarks(bool smoke);
void RegisterInstallBenchmarks(bool smoke);

// Scales of the enumeration benchmarks: other audio interfaces beside the hidden-port device;
// of the installing ones: other devices, or other driver nodes.
inline constexpr int kScales[] = {0, 10, 100, 1000};

inline double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// The sample below which `fraction` of the samples lie (0.5: the median); reorders them. 0 for none.
inline double Percentile(std::vector<double>& samples, double fraction) {
  if (samples.empty()) return 0;
  size_t index = std::min(samples.size() - 1, static_cast<size_t>(fraction * static_cast<double>(samples.size())));
  std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index), samples.end());
  return samples[index];
}

}  // namespace bench
