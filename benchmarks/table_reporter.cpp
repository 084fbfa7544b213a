#include "benchmarks/table_reporter.h"

#include <cstdio>

#include <iterator>

#include "benchmarks/benchmarks.h"
#include "benchmarks/install_operations.h"

namespace bench {
namespace {

const char* const kEnumerations[] = {"GetDeviceCount", "CreateDevice+OpenOutput", "OpenInput"};

void Rule() { std::printf("%s\n", std::string(110, '-').c_str()); }

}  // namespace

bool TableReporter::ReportContext(const Context&) { return true; }

void TableReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    std::string name = run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
    if (run.error_occurred) {
      std::fprintf(stderr, "%s failed: %s\n", name.c_str(), run.error_message.c_str());
      ++m_failures;
      continue;
    }
    Result& result = m_results[name];
    result.secondsPerIteration = run.real_accumulated_time / static_cast<double>(run.iterations);
    for (const auto& [counter, value] : run.counters) result.counters[counter] = value.value;
  }
}

double TableReporter::Counter(const std::string& run, const std::string& counter) const {
  auto found = m_results.find(run);
  if (found == m_results.end()) return 0;
  auto value = found->second.counters.find(counter);
  return value == found->second.counters.end() ? 0 : value->second;
}

double TableReporter::Seconds(const std::string& run) const {
  auto found = m_results.find(run);
  return found == m_results.end() ? 0 : found->second.secondsPerIteration;
}

void TableReporter::PrintSend() const {
  std::printf("%-34s %10s %12s %7s %12s %7s %14s\n", "Send (same machine, same pin factory)", "Send", "its calls",
              "ratio", "write+wait", "ratio", "calls made/req");
  for (const char* length : {"3", "640", "65536"}) {
    std::string run = std::string("Send/") + length;
    if (!Ran(run)) continue;
    double send = Counter(run, "send_us"), calls = Counter(run, "calls_us"), bare = Counter(run, "bare_us");
    std::printf("%-34s %8.2f us %9.2f us %6.3fx %9.2f us %6.3fx %7.0f/%-6.0f\n",
                (std::string(length) + " bytes").c_str(), send, calls, calls > 0 ? send / calls : 0, bare,
                bare > 0 ? send / bare : 0, Counter(run, "calls"), Counter(run, "required"));
  }
}

void TableReporter::PrintLoopback() const {
  if (Ran("RoundTrip"))
    std::printf("%-34s %10.1f us p50 %8.1f us p99 %8.1f us p99.9 (%0.f round trips)\n",
                "Round trip through the loopback", Counter("RoundTrip", "p50_us"), Counter("RoundTrip", "p99_us"),
                Counter("RoundTrip", "p999_us"), Counter("RoundTrip", "samples"));
  if (Ran("SustainedRate"))
    std::printf("%-34s %10.0f messages/s, %0.f of %0.f delivered in order\n", "Sustained rate, 3-byte messages",
                Counter("SustainedRate", "messages_per_s"), Counter("SustainedRate", "delivered"),
                Counter("SustainedRate", "sent"));
  if (Ran("Memory"))
    std::printf("%-34s %10.0f KiB peak, %+0.f KiB growth over %0.f round trips after warm-up\n",
                "Resident memory of a streaming host", Counter("Memory", "peak_kib"), Counter("Memory", "growth_kib"),
                Counter("Memory", "round_trips"));
}

void TableReporter::PrintEnumeration() const {
  PrintScaled("Enumerating operation", "interface", std::vector<std::string>(std::begin(kEnumerations), std::end(kEnumerations)));
}

void TableReporter::PrintInstalling() const {
  std::printf("devsetup (others: other USB devices, each with an INF in the driver store)\n");
  PrintScaled("Installing operation", "device",
              std::vector<std::string>(std::begin(kInstallOperations), std::end(kInstallOperations) - 1));
  std::printf("classhook (others: other compatible drivers of the device, each with its own INF)\n");
  PrintScaled("Installing operation", "node", {kInstallOperations[std::size(kInstallOperations) - 1]});
}

// Each operation at every scale: time per call, and per added interface, device or node the
// time, the calls made and the calls required; then the growth of the time per unit.
void TableReporter::PrintScaled(const char* heading, const std::string& unit,
                                const std::vector<std::string>& operations) const {
  std::printf("%-34s %-11s %12s %14s %16s %12s\n", heading, "others", "time/call", ("time/" + unit).c_str(),
              ("calls/" + unit).c_str(), "required");
  for (const std::string& operation : operations) {
    std::string base = operation + "/0";
    const char* label = operation.c_str();  // on the operation's first row only
    for (int others : kScales) {
      std::string run = operation + "/" + std::to_string(others);
      if (!Ran(run)) continue;
      double seconds = Seconds(run);
      if (others == 0 || !Ran(base)) {
        std::printf("%-34s %-11d %9.1f us %14s %16s %12s\n", label, others, seconds * 1e6, "-", "-", "-");
        label = "";
        continue;
      }
      double perUnit = (seconds - Seconds(base)) / others;
      double calls = (Counter(run, "calls") - Counter(base, "calls")) / others;
      double required = (Counter(run, "required") - Counter(base, "required")) / others;
      std::printf("%-34s %-11d %9.1f us %11.2f us %16.2f %12.2f\n", label, others, seconds * 1e6, perUnit * 1e6,
                  calls, required);
      label = "";
    }
    std::string growth = "Growth/" + operation;
    if (Ran(growth)) {
      std::printf("%-34s %-11s growth of time/%s from 100 to 1,000: %.2fx (median of %.0f interleaved rounds)\n",
                  "", "", unit.c_str(), Counter(growth, "growth"), Counter(growth, "rounds"));
    }
    if (!Ran(base) || !Ran(operation + "/100") || !Ran(operation + "/1000")) continue;
    double at100 = (Seconds(operation + "/100") - Seconds(base)) / 100;
    double at1000 = (Seconds(operation + "/1000") - Seconds(base)) / 1000;
    std::printf("%-34s %-11s growth of time/%s from 100 to 1,000: %.2fx%s\n", "", "", unit.c_str(),
                at100 > 0 ? at1000 / at100 : 0, Ran(growth) ? " (from the rows above)" : "");
  }
}

void TableReporter::Finalize() {
  Rule();
  PrintSend();
  Rule();
  PrintLoopback();
  Rule();
  PrintEnumeration();
  Rule();
  PrintInstalling();
  Rule();
}

}  // namespace bench
