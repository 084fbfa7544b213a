// RunProcessOnMachine: a program run as a process of its own on the simulated machine.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "winsim/machine_file.h"

extern char** environ;

namespace winsim {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A private directory for one run's machine file and captured output.
std::string MakeRunDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/winsim-run-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  return mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

}  // namespace

ProcessRun RunProcessOnMachine(const std::vector<std::string>& command) {
  ProcessRun run;
  std::string directory = MakeRunDirectory();
  if (directory.empty() || command.empty()) return run;
  const std::string machine = directory + "/machine", out = directory + "/stdout", err = directory + "/stderr";
  SaveMachineFile(machine);

  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry)
    if (std::strncmp(*entry, kMachineFileVariable, std::strlen(kMachineFileVariable)) != 0) environment.push_back(*entry);
  environment.push_back(std::string(kMachineFileVariable) + "=" + machine);
  std::vector<char*> envp, argv;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments = command;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  run.started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (run.started) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.hostStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.standardOutput = ReadAll(out);
    run.standardError = ReadAll(err);
    if (auto contents = LoadMachineFile(machine)) {
      run.exitCode = contents->exitCode;
      run.debugOutput = contents->debugOutput;
    }
  }
  for (const std::string& path : {machine, out, err}) unlink(path.c_str());
  rmdir(directory.c_str());
  return run;
}

}  // namespace winsim
