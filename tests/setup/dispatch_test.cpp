// The command table: exact words, exact counts, full 32-bit exit codes, one line for the rest.
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "setup/dispatch.h"
#include "setup/setup_support.h"
#include "support/machine.h"

namespace {

struct Outcome {
  int exitCode;
  std::string standardOutput;
};

Outcome Run(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "devsetup.exe");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);  // the runtime's vector ends with a null pointer
  Outcome outcome{};
  outcome.standardOutput = setup_testing::CaptureStandardOutput(
      [&] { outcome.exitCode = devsetup::RunCommandLine(static_cast<int>(arguments.size()), argv.data()); });
  return outcome;
}

void PrepareMachine() {
  winsim::PutFile("C:\\p\\a.inf", setup_testing::ModelsInf({}));
  winsim::ResetCallCounts();
}

// Each row once with its right count: the exit code shows which command ran.
struct Row {
  std::vector<std::string> arguments;
  uint32_t exitCode;
};
const Row kRows[] = {
    {{"UpdateDriverForPnpDev", "USB\\VID_0009&PID_0009", "C:\\p\\a.inf"}, 1},
    {{"UpdateDriverForModels", "C:\\p\\a.inf", "Absent"}, 0xE000020B},
    {{"InstallOemInf", "C:\\p\\missing.inf", "C:\\p"}, ERROR_FILE_NOT_FOUND},
    {{"InstallOemInfs", "C:\\nodir"}, 0xFFFFFFFF},
    {{"ReinstallDriverForUnpluggedModels", "C:\\p\\a.inf", "Absent"}, 0xDEADFACE},
    {{"CheckPendingInstallEvents"}, 0},
};

}  // namespace

TEST_CASE("each row runs its command with its exact count, and the exit code keeps all 32 bits") {
  for (const Row& row : kRows) {
    testing::Machine machine;
    PrepareMachine();
    CAPTURE(row.arguments[0]);
    Outcome outcome = Run(row.arguments);
    CHECK(static_cast<uint32_t>(outcome.exitCode) == row.exitCode);
    CHECK(outcome.standardOutput.empty());
  }
  testing::Machine machine;
  PrepareMachine();
  CHECK(Run({"ReinstallDriverForUnpluggedModels", "C:\\p\\missing.inf", "Models"}).exitCode == -559038737);
  CHECK(Run({"ReinstallDriverForUnpluggedModels", "C:\\p\\a.inf", "Absent"}).exitCode == -559023410);
  CHECK(Run({"InstallOemInfs", "C:\\nodir"}).exitCode == -1);
}

TEST_CASE("a command line that takes no row prints one line, returns 0 and does nothing else") {
  std::vector<std::vector<std::string>> lines = {
      {},                                       // argc 1: no command word at all
      {"installoeminf", "C:\\p\\a.inf", "C:\\p"},  // letter case counts
      {"INSTALLOEMINFS", "C:\\p"},
      {"InstallOemIn", "C:\\p\\a.inf", "C:\\p"},  // no prefixes
      {"InstallOemInfsX", "C:\\p"},
      {"InstallOemInf ", "C:\\p\\a.inf", "C:\\p"},
      {"Frobnicate", "a", "b"},
      {""},
  };
  // Every word with every wrong count from 1 to 4 arguments.
  for (const Row& row : kRows)
    for (size_t count = 0; count <= 4; ++count) {
      if (count + 1 == row.arguments.size()) continue;
      std::vector<std::string> line = {row.arguments[0]};
      for (size_t i = 0; i < count; ++i) line.push_back(i < 2 ? "C:\\p\\a.inf" : "extra");
      lines.push_back(line);
    }
  for (const auto& line : lines) {
    testing::Machine machine;
    PrepareMachine();
    CAPTURE(line.empty() ? std::string("(none)") : line[0]);
    CAPTURE(line.size());
    Outcome outcome = Run(line);
    CHECK(outcome.exitCode == 0);
    CHECK(outcome.standardOutput == "invalid arguments!\n");
    CHECK(winsim::CallCounts().empty());  // no platform call at all
    CHECK(winsim::DebugOutput().empty());
  }
}

TEST_CASE("CheckPendingInstallEvents: 1 at once while installations are pending, 1 when the query fails") {
  testing::Machine machine;
  winsim::SetPendingInstalls(1);
  CHECK(Run({"CheckPendingInstallEvents"}).exitCode == 1);
  winsim::SetPendingInstalls(0);
  CHECK(Run({"CheckPendingInstallEvents"}).exitCode == 0);
  winsim::FailCall("CMP_WaitNoPendingInstallEvents", ERROR_ACCESS_DENIED);
  CHECK(Run({"CheckPendingInstallEvents"}).exitCode == 1);
}
