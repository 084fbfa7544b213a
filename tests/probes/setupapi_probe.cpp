// Device-interface enumeration of the audio category on a machine that has none of the
// package's devices, and the argument checks the product's calls meet.
#include "probe.h"

int main() {
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  probe::Flag("SetupDiGetClassDevsA audio interfaces", set != INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  SetLastError(probe::kUnset);
  probe::Result("SetupDiEnumDeviceInterfaces index 0", SetupDiEnumDeviceInterfaces(set, NULL, &KSCATEGORY_AUDIO, 0, &data));
  data.cbSize = 1;
  SetLastError(probe::kUnset);
  probe::Result("  with a wrong cbSize", SetupDiEnumDeviceInterfaces(set, NULL, &KSCATEGORY_AUDIO, 0, &data));
  SetLastError(probe::kUnset);
  DWORD required = 77;
  probe::Result("SetupDiGetDeviceInterfaceDetailA without interface data",
                SetupDiGetDeviceInterfaceDetailA(set, NULL, NULL, 0, &required, NULL));
  probe::Value("  required", required);
  SetLastError(probe::kUnset);
  probe::Result("SetupDiDestroyDeviceInfoList", SetupDiDestroyDeviceInfoList(set));
  SetLastError(probe::kUnset);
  probe::Result("SetupDiDestroyDeviceInfoList on INVALID_HANDLE_VALUE", SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE));

  HDEVINFO empty = SetupDiCreateDeviceInfoList(NULL, NULL);
  probe::Flag("SetupDiCreateDeviceInfoList", empty != INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA opened = {};
  opened.cbSize = sizeof opened;
  SetLastError(probe::kUnset);
  probe::Result("SetupDiOpenDeviceInterfaceA of an absent path",
                SetupDiOpenDeviceInterfaceA(
                    empty, "\\\\?\\usb#vid_1a86&pid_0a3c#probe#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global", 0, &opened));
  SetupDiDestroyDeviceInfoList(empty);
  return 0;
}
