#include "setup/setup_support.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "winsim/control.h"

namespace setup_testing {

std::string ModelsInf(const std::vector<std::string>& modelLines, const std::string& classLine) {
  std::string body;
  for (const std::string& line : modelLines) body += line + "\r\n";
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\n" + classLine +
         "\r\n\r\n[Manufacturer]\r\n%Mfg%=Models,NTamd64,NTx86\r\n\r\n[Models.NTamd64]\r\n" + body +
         "\r\n[Models.NTx86]\r\n" + body + "\r\n[Install]\r\n\r\n[Strings]\r\nMfg=\"Tarrowin\"\r\n";
}

DEVINST AddUsbDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds, bool present,
                     DWORD configFlags) {
  winsim::DeviceRecordDesc desc;
  desc.instanceId = instanceId;
  desc.hardwareIds = hardwareIds;
  desc.present = present;
  desc.configFlags = configFlags;
  return winsim::AddDeviceRecord(desc);
}

std::string CaptureStandardOutput(const std::function<void()>& run) {
  std::fflush(stdout);
  char path[] = "/tmp/devsetup-stdout-XXXXXX";
  int file = mkstemp(path);
  int saved = dup(1);
  dup2(file, 1);
  run();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(file);
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  unlink(path);
  return text.str();
}

uint64_t Calls(const std::string& api) {
  auto counts = winsim::CallCounts();
  auto found = counts.find(api);
  return found == counts.end() ? 0 : found->second;
}

}  // namespace setup_testing
