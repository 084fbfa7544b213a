// The fault sweep over the deliverables' host scenarios. Prints, per scenario, the injection
// points it failed one by one and how many held; exits non-zero on any finding.
//   fault_sweep [--only TEXT] [--cap N] [--jobs N] [--verbose]
// Most of a run is spent waiting on the scenario's bounded waits, so the points are shared out
// over several processes (--jobs, default 4), each its own simulated machine.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "campaign/client_scenarios.h"
#include "campaign/coinstaller_scenarios.h"
#include "campaign/setup_scenarios.h"

extern char** environ;

namespace {

using campaign::SweepFigures;

struct Arguments {
  campaign::SweepOptions options;
  std::string only;
  unsigned jobs = 4;
  bool child = false;
};

Arguments Parse(int argc, char** argv) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool more = i + 1 < argc;
    if (arg == "--only" && more) args.only = argv[++i];
    else if (arg == "--cap" && more) args.options.capPerCall = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--jobs" && more) args.jobs = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
    else if (arg == "--verbose") args.options.verbose = true;
    else if (arg == "--shard" && more) {
      args.child = true;
      std::sscanf(argv[++i], "%u/%u", &args.options.shard, &args.options.shards);
    }
  }
  return args;
}

std::vector<campaign::ScenarioEntry> AllScenarios() {
  std::vector<campaign::ScenarioEntry> all = campaign::ClientScenarios();
  for (auto more : {campaign::SetupScenarios, campaign::CoInstallerScenarios})
    for (campaign::ScenarioEntry& scenario : more()) all.push_back(std::move(scenario));
  return all;
}

std::vector<SweepFigures> RunScenarios(const Arguments& args) {
  std::vector<SweepFigures> all;
  for (const campaign::ScenarioEntry& scenario : AllScenarios()) {
    if (!args.only.empty() && scenario.name.find(args.only) == std::string::npos) continue;
    all.push_back(campaign::Sweep(scenario, args.options));
    std::fflush(stdout);
  }
  return all;
}

// A shard hands its figures to the parent as tab-separated lines after its reports.
void PrintMachineFigures(const std::vector<SweepFigures>& all) {
  for (const SweepFigures& f : all) {
    std::printf("@figures\t%s\t%llu\t%llu\t%llu\t%llu\t%f\n", f.scenario.c_str(),
                static_cast<unsigned long long>(f.points), static_cast<unsigned long long>(f.held),
                static_cast<unsigned long long>(f.failed), static_cast<unsigned long long>(f.capped), f.seconds);
    for (const std::string& call : f.notInjected) std::printf("@skip\t%s\t%s\n", f.scenario.c_str(), call.c_str());
  }
}

void Merge(std::vector<SweepFigures>& all, const std::string& line) {
  std::istringstream in(line);
  std::string tag, name;
  std::getline(in, tag, '\t');
  std::getline(in, name, '\t');
  SweepFigures* f = nullptr;
  for (SweepFigures& existing : all)
    if (existing.scenario == name) f = &existing;
  if (!f) {
    all.push_back(SweepFigures{});
    f = &all.back();
    f->scenario = name;
  }
  if (tag == "@skip") {
    std::string text;
    std::getline(in, text);
    f->notInjected.push_back(text);
    return;
  }
  uint64_t points, held, failed, capped;
  double seconds;
  in >> points >> held >> failed >> capped >> seconds;
  f->points += points;
  f->held += held;
  f->failed += failed;
  f->capped += capped;
  f->seconds = std::max(f->seconds, seconds);
}

// Runs the shards as child processes of this program; false when one of them died.
bool RunShards(int argc, char** argv, unsigned jobs, std::vector<SweepFigures>& all) {
  std::vector<pid_t> children;
  std::vector<std::string> outputs;
  bool ok = true;
  for (unsigned shard = 0; shard < jobs; ++shard) {
    char path[] = "/tmp/fault_sweep_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return false;
    outputs.push_back(path);
    std::vector<std::string> words(argv, argv + argc);
    words.push_back("--shard");
    words.push_back(std::to_string(shard) + "/" + std::to_string(jobs));
    std::vector<char*> childArgv;
    for (std::string& word : words) childArgv.push_back(word.data());
    childArgv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_adddup2(&actions, fd, 2);
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, childArgv.data(), environ) != 0) ok = false;
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
    children.push_back(pid);
  }
  for (unsigned shard = 0; shard < jobs; ++shard) {
    int status = 0;
    if (children[shard] > 0) waitpid(children[shard], &status, 0);
    std::ifstream in(outputs[shard]);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("@figures\t", 0) == 0 || line.rfind("@skip\t", 0) == 0) {
        if (line.rfind("@skip\t", 0) != 0 || shard == 0) Merge(all, line);
      } else {
        std::printf("%s\n", line.c_str());
      }
    }
    std::remove(outputs[shard].c_str());
    if (children[shard] <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) > 1) {
      std::printf("FAILED: sweep shard %u/%u died (status %d); its last run is named above\n", shard, jobs, status);
      ok = false;
    }
  }
  return ok;
}

void PrintFigures(const std::vector<SweepFigures>& all) {
  uint64_t points = 0, held = 0, failed = 0;
  double seconds = 0;
  for (const SweepFigures& f : all) {
    std::printf("sweep: %-48s %5llu/%-5llu injection points held", f.scenario.c_str(),
                static_cast<unsigned long long>(f.held), static_cast<unsigned long long>(f.points));
    if (f.failed) std::printf(", %llu FAILED", static_cast<unsigned long long>(f.failed));
    if (f.capped) std::printf(", %llu not run (cap)", static_cast<unsigned long long>(f.capped));
    std::printf(" (%.1f s)\n", f.seconds);
    for (const std::string& call : f.notInjected) std::printf("         not injected: %s\n", call.c_str());
    points += f.points;
    held += f.held;
    failed += f.failed;
    seconds = std::max(seconds, f.seconds);
  }
  std::printf("sweep: total %llu/%llu injection points held, %llu failed\n", static_cast<unsigned long long>(held),
              static_cast<unsigned long long>(points), static_cast<unsigned long long>(failed));
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args = Parse(argc, argv);
  if (args.child) {
    PrintMachineFigures(RunScenarios(args));
    return 0;
  }
  std::vector<SweepFigures> all;
  bool ok = true;
  if (args.jobs > 1) {
    ok = RunShards(argc, argv, args.jobs, all);
  } else {
    all = RunScenarios(args);
  }
  PrintFigures(all);
  for (const SweepFigures& f : all) ok = ok && f.failed == 0;
  return ok ? 0 : 1;
}
