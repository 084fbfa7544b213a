#include "campaign/sweep.h"

#include <chrono>
#include <cstdio>
#include <map>

#include "campaign/case_guard.h"
#include "campaign/win_errors.h"
#include "winsim/control.h"
#include "winsim/control_ks.h"

namespace campaign {

const char* const kAllocation = "new(std::nothrow)";

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(value));
  return text;
}

std::string FaultPoint::Label() const {
  if (Clean()) return "the clean run";
  return call + " #" + std::to_string(k) + " (error " + std::to_string(error) + ")";
}

namespace {

const std::chrono::seconds kRunLimit(30);

// Once a leak has been seen every later check reports it again: only the first run that
// leaks is named.
bool g_leakSeen = false;

struct RunResult {
  std::vector<std::string> violations;
};

RunResult RunOnce(const ScenarioEntry& entry, const FaultPoint& point) {
  BeginCase(entry.name + ", " + point.Label(), kRunLimit);
  winsim::Reset();
  Checks checks(point);
  {
    std::unique_ptr<Scenario> scenario = entry.make();
    scenario->Build();
    winsim::ResetCallCounts();
    if (point.call == kAllocation) {
      winsim::FailAllocations(1, static_cast<int>(point.k - 1));
    } else if (!point.Clean()) {
      winsim::FailCall(point.call, point.error, 1, static_cast<int>(point.k - 1));
    }
    scenario->Run(checks);
  }
  winsim::ClearFaults();
  winsim::FailAllocations(0);
  checks.Expect(winsim::PendingRequestCount() == 0,
                std::to_string(winsim::PendingRequestCount()) + " requests still pending after the host destroyed everything");
  checks.Expect(winsim::LiveHandleCount() == 0,
                std::to_string(winsim::LiveHandleCount()) + " handles leaked");
  if (!g_leakSeen && LeakedMemory()) {
    g_leakSeen = true;
    checks.Expect(false, "memory leaked (LeakSanitizer's report above)");
  }
  EndCase();
  return RunResult{checks.Violations()};
}

std::vector<uint64_t> KsToRun(uint64_t count, uint64_t cap) {
  std::vector<uint64_t> ks;
  if (cap == 0 || count <= cap) {
    for (uint64_t k = 1; k <= count; ++k) ks.push_back(k);
    return ks;
  }
  if (cap == 1) return {1};  // one occurrence: the first
  for (uint64_t i = 0; i < cap; ++i) ks.push_back(1 + i * (count - 1) / (cap - 1));
  return ks;
}

void ReportFailure(const std::string& scenario, const FaultPoint& point, const std::vector<std::string>& violations) {
  std::printf("FAILED %s, %s:\n", scenario.c_str(), point.Label().c_str());
  for (const std::string& violation : violations) std::printf("    %s\n", violation.c_str());
}

}  // namespace

SweepFigures Sweep(const ScenarioEntry& entry, const SweepOptions& options) {
  SweepFigures figures;
  figures.scenario = entry.name;
  auto start = std::chrono::steady_clock::now();

  // The clean run must give the exact result; its counts are the injection points.
  RunResult clean = RunOnce(entry, FaultPoint{});
  std::map<std::string, uint64_t> counts = winsim::CallCounts();
  uint64_t allocations = winsim::NothrowAllocationCount();
  if (!clean.violations.empty()) {
    if (options.shard == 0) {
      ReportFailure(entry.name, FaultPoint{}, clean.violations);
      ++figures.failed;
    }
    return figures;
  }
  // Counts were read after the clean run's teardown, so they cover every call it made.
  counts[kAllocation] = allocations;

  uint64_t index = 0;  // over every injection point of the scenario, for the shards
  for (const auto& [call, count] : counts) {
    if (count == 0) continue;
    DWORD error = 0;
    if (call != kAllocation) {
      if (const char* reason = NotInjectableReason(call)) {
        if (options.shard == 0) figures.notInjected.push_back(call + " x" + std::to_string(count) + ": " + reason);
        continue;
      }
      std::optional<InjectedError> injected = ErrorFor(call);
      if (!injected) {
        if (options.shard == 0) {
          std::printf("FAILED %s: no Windows error is known for %s; add it to the campaign's error table\n",
                      entry.name.c_str(), call.c_str());
          ++figures.failed;
        }
        continue;
      }
      error = injected->error;
    }
    std::vector<uint64_t> ks = KsToRun(count, options.capPerCall);
    if (options.shard == 0) figures.capped += count - ks.size();
    for (uint64_t k : ks) {
      if (index++ % options.shards != options.shard) continue;
      FaultPoint point{call, k, error};
      RunResult run = RunOnce(entry, point);
      ++figures.points;
      if (run.violations.empty()) {
        ++figures.held;
        if (options.verbose) std::printf("held %s, %s\n", entry.name.c_str(), point.Label().c_str());
      } else {
        ++figures.failed;
        ReportFailure(entry.name, point, run.violations);
      }
    }
  }
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return figures;
}

}  // namespace campaign
