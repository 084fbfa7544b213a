// How a separate process sees the simulated machine. The simulated platform lives inside each
// process; to run a program such as devsetup as a process of its own, a test writes the
// machine to a file and starts the program with WINSIM_MACHINE_FILE naming it. The program's
// simulated platform loads the machine when it starts and, when the program exits, writes it
// back together with the program's full 32-bit exit code and its debugger output; the test
// then loads the file to see what the program did. Not part of Windows.
//
// What travels: files and directories with the current directory, device records with their
// properties and installed drivers, the driver store, and the installation state (elevation,
// restart needed, pending installations). Devices with interfaces, handles and faults do not.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

inline constexpr char kMachineFileVariable[] = "WINSIM_MACHINE_FILE";

bool SaveMachineFile(const std::string& path);

struct MachineFileContents {
  std::optional<uint32_t> exitCode;     // set once a process that ran on the machine ended
  std::vector<std::string> debugOutput;  // that process's OutputDebugStringA texts
};
// Replaces this machine's files, device records, driver store and installation state with
// the file's; nothing when the file cannot be read.
std::optional<MachineFileContents> LoadMachineFile(const std::string& path);

// Runs a program as a separate process on this machine and waits for it: saves the machine,
// starts `command` (the program and its arguments; a launcher such as qemu-i386 may come first)
// with WINSIM_MACHINE_FILE set, standard input empty, and loads the machine back afterwards.
struct ProcessRun {
  bool started = false;
  int hostStatus = -1;                   // what the host reports (8 bits of the exit code)
  std::optional<uint32_t> exitCode;      // the program's full exit code
  std::string standardOutput;
  std::string standardError;
  std::vector<std::string> debugOutput;  // the program's OutputDebugStringA texts
};
ProcessRun RunProcessOnMachine(const std::vector<std::string>& command);

}  // namespace winsim
