// devsetup.exe against Wine's own SetupAPI, INF parser and driver store. Started under Wine with
// the path of devsetup.exe; runs each case as a child process and reads its exit code with
// GetExitCodeProcess, because Wine cuts a process's exit status to 8 bits at the Linux boundary.
//
// Where Wine differs from Windows, the case is left to the simulator's tests:
// - SetupGetInfFileListA succeeds for a missing directory and leaves no valid list for an empty
//   one (so InstallOemInfs' 0xFFFFFFFF and empty-directory paths);
// - SetupOpenInfFileA does not compare the class (so an INF without a Class entry opens);
// - UpdateDriverForPlugAndPlayDevicesA and CM_Get_DevNode_Status succeed without doing anything,
//   and Wine has no USB devices (so the update and reinstall commands beyond their INF codes);
// - SetupCopyOEMInfA keeps the INF's own name instead of an oemNN.inf name.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

struct Result {
  DWORD exitCode = 0xCCCCCCCC;
  std::string standardOutput;
  std::string standardError;
};

std::string ReadPipe(HANDLE pipe) {
  std::string text;
  char buffer[512];
  DWORD read = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  return text;
}

Result RunDevsetup(const std::string& program, const std::string& arguments) {
  Result result;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  CreatePipe(&outRead, &outWrite, &inherit, 0);
  CreatePipe(&errRead, &errWrite, &inherit, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process = {};
  std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (started) {
    result.standardOutput = ReadPipe(outRead);
    result.standardError = ReadPipe(errRead);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  } else {
    std::printf("cannot start %s: error %lu\n", commandLine.c_str(), GetLastError());
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  return result;
}

void Expect(const char* what, bool ok) {
  std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++g_failures;
}

void ExpectRun(const std::string& program, const std::string& arguments, DWORD exitCode,
               const std::string& standardOutput = "") {
  Result run = RunDevsetup(program, arguments);
  std::string label = "devsetup " + arguments + " -> 0x" + [&] {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lX", run.exitCode);
    return std::string(hex);
  }();
  Expect(label.c_str(), run.exitCode == exitCode && run.standardOutput == standardOutput && run.standardError.empty());
  if (run.standardOutput != standardOutput) std::printf("      standard output was \"%s\"\n", run.standardOutput.c_str());
}

void WriteText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ReadText(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text = ReadPipe(file);
  CloseHandle(file);
  return text;
}

// Whether the system INF folder holds a file with exactly this text.
bool InInfFolder(const std::string& text) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  std::string folder = std::string(windows) + "\\inf\\";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*.inf").c_str(), &found);
  bool present = false;
  for (BOOL more = search != INVALID_HANDLE_VALUE; more && !present; more = FindNextFileA(search, &found))
    present = ReadText(folder + found.cFileName) == text;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  return present;
}

// An INF whose text is new to this prefix, so that a copy made by an earlier run counts for nothing.
std::string UniqueInf(const std::string& name) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "; %s %lu-%lu\r\n", name.c_str(), GetTickCount(), GetCurrentProcessId());
  return std::string(stamp) +
         "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=MEDIA\r\nClassGUID={4d36e96c-e325-11ce-bfc1-08002be10318}\r\n"
         "Provider=%Mfg%\r\nDriverVer=12/07/2026,1.0.0.0\r\n\r\n[Manufacturer]\r\n%Mfg%=Models,NTamd64\r\n\r\n"
         "[Models.NTamd64]\r\n%Desc%=Install, USB\\VID_1A86&PID_0A3C&MI_00\r\n\r\n[Install]\r\n\r\n"
         "[Strings]\r\nMfg=\"Tarrowin\"\r\nDesc=\"Tarrowin MIDI Interface\"\r\n";
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::printf("usage: wine_devsetup devsetup.exe\n");
    return 2;
  }
  const std::string devsetup = argv[1];
  const std::string root = "C:\\devsetup-wine-test";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA((root + "\\one").c_str(), nullptr);
  CreateDirectoryA((root + "\\many").c_str(), nullptr);
  const std::string one = UniqueInf("one"), second = UniqueInf("second"), third = UniqueInf("third");
  WriteText(root + "\\one\\tarrowin.inf", one);
  WriteText(root + "\\many\\b.inf", second);
  WriteText(root + "\\many\\c.inf", third);
  const std::string inf = root + "\\one\\tarrowin.inf";

  // Dispatch: exact words and counts; the message in the console's text mode.
  const std::string invalid = "invalid arguments!\r\n";
  ExpectRun(devsetup, "", 0, invalid);
  ExpectRun(devsetup, "installoeminf " + inf + " " + root, 0, invalid);
  ExpectRun(devsetup, "InstallOemInf " + inf, 0, invalid);
  ExpectRun(devsetup, "InstallOemInfs " + root + "\\many extra", 0, invalid);
  ExpectRun(devsetup, "CheckPendingInstallEvents now", 0, invalid);
  ExpectRun(devsetup, "UpdateDriverForModels " + inf + " Models.NTamd64 extra", 0, invalid);

  // INF files into Wine's driver store.
  ExpectRun(devsetup, "InstallOemInf " + inf + " " + root + "\\one", 0);
  Expect("the INF is in the INF folder", InInfFolder(one));
  ExpectRun(devsetup, "InstallOemInf " + root + "\\one\\missing.inf " + root, ERROR_FILE_NOT_FOUND);
  ExpectRun(devsetup, "InstallOemInfs " + root + "\\many", 0);
  Expect("both INFs of the directory are in the INF folder", InInfFolder(second) && InInfFolder(third));
  // Started in the package folder with relative paths: SetupCopyOEMInfA itself refuses a
  // relative source path, so devsetup must hand it full ones.
  const std::string relative = UniqueInf("relative");
  WriteText(root + "\\one\\relative.inf", relative);
  SetCurrentDirectoryA((root + "\\one").c_str());
  ExpectRun(devsetup, "InstallOemInf relative.inf .", 0);
  Expect("the INF named relative to the current directory is in the INF folder", InInfFolder(relative));

  // The section commands' own codes, all 32 bits of them.
  ExpectRun(devsetup, "UpdateDriverForModels " + root + "\\missing.inf Models.NTamd64", 0xDEADBEEF);
  ExpectRun(devsetup, "ReinstallDriverForUnpluggedModels " + root + "\\missing.inf Models.NTamd64", 0xDEADBEEF);
  ExpectRun(devsetup, "UpdateDriverForModels " + inf + " Absent", 0xE000020B);
  ExpectRun(devsetup, "ReinstallDriverForUnpluggedModels " + inf + " Absent", 0xDEADFACE);
  ExpectRun(devsetup, "CheckPendingInstallEvents", 0);

  std::printf("%d failure(s)\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
