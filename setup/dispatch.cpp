#include "setup/dispatch.h"

#include <cstdio>
#include <cstring>

#include "setup/commands.h"

namespace devsetup {
namespace {

// argv[2] and argv[3] of a row whose count includes them.
struct CommandRow {
  const char* word;
  int argc;
  DWORD (*run)(char* argv[]);
};

// Row order is the order of the tests.
const CommandRow kCommandTable[] = {
    {"UpdateDriverForPnpDev", 4, [](char* argv[]) { return UpdateDriverForPnpDev(argv[2], argv[3]); }},
    {"UpdateDriverForModels", 4, [](char* argv[]) { return UpdateDriverForModels(argv[2], argv[3]); }},
    {"InstallOemInf", 4, [](char* argv[]) { return InstallOemInf(argv[2], argv[3]); }},
    {"InstallOemInfs", 3, [](char* argv[]) { return InstallOemInfs(argv[2]); }},
    {"ReinstallDriverForUnpluggedModels", 4,
     [](char* argv[]) { return ReinstallDriverForUnpluggedModels(argv[2], argv[3]); }},
    {"CheckPendingInstallEvents", 2, [](char*[]) { return CheckPendingInstallEvents(); }},
};

}  // namespace

int RunCommandLine(int argc, char* argv[]) {
  // Without a command word there is nothing to compare (argv[1] may be the vector's end).
  if (argc >= 2) {
    for (const CommandRow& row : kCommandTable) {
      if (std::strcmp(argv[1], row.word) == 0 && argc == row.argc) {
        // The same bits as a signed int: 0xDEADBEEF is -559038737.
        return static_cast<int>(row.run(argv));
      }
    }
  }
  std::fputs("invalid arguments!\n", stdout);
  return 0;
}

}  // namespace devsetup
