// The host operations the benchmarks measure, and the platform calls each one must make.
// The same operations are timed by the benchmarks and counted by the smoke run.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "benchmarks/bench_machine.h"

namespace bench {

using Counts = std::map<std::string, uint64_t>;  // platform call name -> calls

// Objects an operation opened; destroyed after it was timed or counted.
struct Opened {
  TarrowinHiddenMIDI::Device* device = nullptr;
  TarrowinHiddenMIDI::Input* input = nullptr;
  TarrowinHiddenMIDI::Output* output = nullptr;
  void DestroyAll();
};

// The input's receive thread has queued its first read and waits for it.
bool WaitUntilReading(const Machine& machine);

TarrowinHiddenMIDI::Device* CreateDevice0(const Machine& machine);
Opened CreateDeviceAndOpenOutput(const Machine& machine);
Opened OpenInputOf(TarrowinHiddenMIDI::Device* device);

// One counted operation: a name ("GetDeviceCount", "CreateDevice+OpenOutput", "OpenInput",
// "Send", or one of kInstallOperations) and its size: other audio interfaces for the first
// three, bytes for Send, other devices or driver nodes for the installing operations.
struct Operation {
  std::string name;
  int size = 0;
  std::string Label() const { return name + "/" + std::to_string(size); }
};
std::vector<Operation> CountedOperations(const std::vector<int>& scales);

// Runs the operation once on its machine (warmed up first, so that once-per-process work such
// as loading ksuser.dll is not counted) and returns the calls it made.
Counts CountCalls(const Operation& operation);
// The calls the operation must make: its documented call sequences, summed.
Counts RequiredCalls(const Operation& operation);

// Both together as one number.
uint64_t Total(const Counts& counts);

}  // namespace bench
