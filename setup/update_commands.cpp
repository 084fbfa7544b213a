// UpdateDriverForPnpDev and UpdateDriverForModels: the package's driver onto connected devices.
#include "setup/commands.h"
#include "setup/exit_codes.h"
#include "setup/full_path.h"
#include "setup/inf_reading.h"

namespace devsetup {
namespace {

constexpr DWORD kExitNoDevice = 1;
constexpr DWORD kExitRestartNeeded = 2;

BOOL UpdateDriver(const char* hardwareId, const char* infPath, BOOL* reboot) {
  return UpdateDriverForPlugAndPlayDevicesA(nullptr, hardwareId, infPath, INSTALLFLAG_FORCE, reboot);
}

// A failed update as UpdateDriverForPnpDev reports it. Codes 0, 1 and 2 are the installer's
// statuses, so a failure whose own code is one of them cannot pass it on unchanged: it is
// reported in its HRESULT form (0 as E_FAIL), never as a success.
DWORD PnpFailureCode(DWORD error) {
  if (error == ERROR_NO_SUCH_DEVINST) return kExitNoDevice;
  if (error == 0) return FailureCode(error);
  if (error <= kExitRestartNeeded) return static_cast<DWORD>(HRESULT_FROM_WIN32(error));
  return error;
}

}  // namespace

DWORD UpdateDriverForPnpDev(const char* hardwareId, const char* infPath) {
  FullPath fullInfPath(infPath);
  BOOL reboot = FALSE;
  // The call's own result decides: a last error left over from inside a successful call
  // means nothing.
  if (!UpdateDriver(hardwareId, fullInfPath.c_str(), &reboot)) return PnpFailureCode(GetLastError());
  return reboot ? kExitRestartNeeded : 0;
}

DWORD UpdateDriverForModels(const char* infPathArgument, const char* modelsSection) {
  FullPath fullInfPath(infPathArgument);
  const char* infPath = fullInfPath.c_str();
  UniqueInf inf = OpenInfOfOwnClass(infPath);
  if (!inf) return kExitInfNotOpened;
  BOOL reboot = FALSE;  // a restart is not this command's to report
  return WalkModelLines(inf.get(), modelsSection, ERROR_NO_SUCH_DEVINST, [&](const char* modelId) {
    std::optional<DWORD> stop;
    if (!UpdateDriver(modelId, infPath, &reboot)) {
      DWORD error = GetLastError();
      if (error != ERROR_NO_SUCH_DEVINST) stop = FailureCode(error);
    }
    return stop;
  });
}

}  // namespace devsetup
