// The recorded platform calls of every counted operation (benchmarks/call_counts.txt), checked by
// the smoke run: an operation that makes one call more, or one fewer, than recorded fails.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "benchmarks/operations.h"

namespace bench {

// Operation label -> its calls.
using CallRecord = std::map<std::string, Counts>;

CallRecord CountAll(const std::vector<Operation>& operations);
void WriteRecord(const CallRecord& record, std::ostream& out);
CallRecord ReadRecord(std::istream& in);

// Lines that tell each difference between the recorded and the measured calls, and each
// operation whose calls are not the ones it must make; empty when all agree.
std::vector<std::string> CompareWithRecord(const CallRecord& recorded, const CallRecord& measured);
std::vector<std::string> CompareWithRequired(const std::vector<Operation>& operations, const CallRecord& measured);

}  // namespace bench
