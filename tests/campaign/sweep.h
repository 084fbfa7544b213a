// The fault sweep: a scenario is run once clean to learn its injection points, then once for
// every (call, k) with exactly the k-th call of that name failed, and once for every k-th
// non-throwing allocation failed. Every run must hold the same invariants.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "winsim/sdk.h"

namespace campaign {

// The call failed in one run; an empty call name is the clean run.
struct FaultPoint {
  std::string call;  // a Win32 name, or kAllocation
  uint64_t k = 0;    // 1-based
  DWORD error = 0;
  bool Clean() const { return call.empty(); }
  std::string Label() const;
};
extern const char* const kAllocation;

// What a run found wrong; empty when every invariant held.
class Checks {
 public:
  explicit Checks(FaultPoint point) : m_point(std::move(point)) {}
  const FaultPoint& Point() const { return m_point; }
  // In the clean run the scenario's exact result is required; under a fault only a defined one.
  bool Clean() const { return m_point.Clean(); }
  void Expect(bool condition, const std::string& violation) {
    if (!condition) m_violations.push_back(violation);
  }
  const std::vector<std::string>& Violations() const { return m_violations; }

 private:
  FaultPoint m_point;
  std::vector<std::string> m_violations;
};

// One host scenario: Build plugs the machine (not counted, never failed); Run does what a host
// does, checks its results and destroys everything it made.
class Scenario {
 public:
  virtual ~Scenario() = default;
  virtual void Build() {}
  virtual void Run(Checks& checks) = 0;
};

struct ScenarioEntry {
  std::string name;
  std::function<std::unique_ptr<Scenario>()> make;
};

template <typename T>
ScenarioEntry Entry(const char* name) {
  return ScenarioEntry{name, [] { return std::unique_ptr<Scenario>(new T); }};
}

struct SweepFigures {
  std::string scenario;
  uint64_t points = 0;     // injection points failed one by one
  uint64_t held = 0;       // runs in which every invariant held
  uint64_t failed = 0;
  uint64_t capped = 0;     // injection points not run because of the cap
  double seconds = 0;
  std::vector<std::string> notInjected;  // calls left out, with the reason
};

struct SweepOptions {
  // At most this many k per call name (0: all). Above it, k is spread evenly over the range.
  uint64_t capPerCall = 0;
  bool verbose = false;
  // Runs only every `shards`-th injection point, starting at `shard` (the clean run always).
  unsigned shard = 0;
  unsigned shards = 1;
};

// An exit code, error or flag word as a report shows it ("0xdeadbeef").
std::string Hex(DWORD value);

SweepFigures Sweep(const ScenarioEntry& scenario, const SweepOptions& options);

}  // namespace campaign
