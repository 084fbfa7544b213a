#include "benchmarks/call_record.h"

#include <istream>
#include <ostream>
#include <set>
#include <sstream>

namespace bench {
namespace {

// Every call name either side knows of, so that a call made but not recorded shows too.
std::set<std::string> NamesOf(const Counts& a, const Counts& b) {
  std::set<std::string> names;
  for (const auto& [name, count] : a) names.insert(name);
  for (const auto& [name, count] : b) names.insert(name);
  return names;
}

uint64_t CountOf(const Counts& counts, const std::string& name) {
  auto found = counts.find(name);
  return found == counts.end() ? 0 : found->second;
}

void CompareCounts(const std::string& label, const Counts& expected, const Counts& measured, const char* expectedName,
                   std::vector<std::string>& differences) {
  for (const std::string& name : NamesOf(expected, measured)) {
    uint64_t want = CountOf(expected, name), got = CountOf(measured, name);
    if (want == got) continue;
    std::ostringstream line;
    line << label << ": " << name << " made " << got << " times, " << expectedName << " " << want;
    differences.push_back(line.str());
  }
}

}  // namespace

CallRecord CountAll(const std::vector<Operation>& operations) {
  CallRecord record;
  for (const Operation& operation : operations) record[operation.Label()] = CountCalls(operation);
  return record;
}

void WriteRecord(const CallRecord& record, std::ostream& out) {
  out << "# Platform calls per operation (operation/size call count), written by portlink_bench --record.\n"
         "# Sizes: other audio interfaces beside the hidden-port device; bytes for Send.\n";
  for (const auto& [label, counts] : record)
    for (const auto& [name, count] : counts) out << label << ' ' << name << ' ' << count << '\n';
}

CallRecord ReadRecord(std::istream& in) {
  CallRecord record;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string label, name;
    uint64_t count = 0;
    if (fields >> label >> name >> count) record[label][name] = count;
  }
  return record;
}

std::vector<std::string> CompareWithRecord(const CallRecord& recorded, const CallRecord& measured) {
  std::vector<std::string> differences;
  for (const auto& [label, counts] : measured) {
    auto found = recorded.find(label);
    if (found == recorded.end()) {
      differences.push_back(label + ": not recorded");
      continue;
    }
    CompareCounts(label, found->second, counts, "recorded", differences);
  }
  return differences;
}

std::vector<std::string> CompareWithRequired(const std::vector<Operation>& operations, const CallRecord& measured) {
  std::vector<std::string> differences;
  for (const Operation& operation : operations)
    CompareCounts(operation.Label(), RequiredCalls(operation), measured.at(operation.Label()), "required",
                  differences);
  return differences;
}

}  // namespace bench
