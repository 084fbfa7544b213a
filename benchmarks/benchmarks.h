// Registration of every benchmark. A smoke run registers the same benchmarks with the
// smallest work that still runs each of them once.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>

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

}  // namespace bench
