// Values of a REG_MULTI_SZ list as the co-installer's registration reads and edits them: the
// size query, a buffer too small, a missing value, an empty value, deletion and key access.
#include <cstring>

#include "probe.h"

namespace {

const char kControl[] = "SYSTEM\\CurrentControlSet\\Control";
const char kName[] = "TarrowinProbeList";

// With a buffer of `bufferSize` bytes (none for 0); `sizeIn` is what the size holds before.
void Query(const char* name, HKEY key, DWORD bufferSize, bool withSize = true, DWORD sizeIn = 0) {
  BYTE data[16];
  std::memset(data, 0xCC, sizeof data);
  DWORD type = 0xDEAD;
  DWORD size = bufferSize != 0 ? bufferSize : sizeIn;
  LONG result = RegQueryValueExA(key, kName, NULL, &type, bufferSize == 0 ? NULL : data, withSize ? &size : NULL);
  probe::Value(name, static_cast<unsigned long long>(result));
  probe::Value("  type", type);
  if (withSize) probe::Value("  size", size);
  if (result == ERROR_SUCCESS && bufferSize != 0) probe::Value("  last byte", data[size == 0 ? 0 : size - 1]);
}

}  // namespace

int main() {
  HKEY missing = NULL;
  probe::Value("RegOpenKeyExA of a missing key",
               static_cast<unsigned long long>(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\TarrowinProbeNoSuchKey", 0, KEY_READ, &missing)));
  HKEY key = NULL;
  probe::Value("RegOpenKeyExA read and set",
               static_cast<unsigned long long>(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kControl, 0, KEY_READ | KEY_SET_VALUE, &key)));
  RegDeleteValueA(key, kName);  // left over from an interrupted run
  Query("RegQueryValueExA of a missing value", key, 0, true, 77);
  Query("RegQueryValueExA of a missing value into 16 bytes", key, 16);

  const BYTE list[] = {'a', 0, 'b', 'c', 0, 0};
  probe::Value("RegSetValueExA list", static_cast<unsigned long long>(RegSetValueExA(key, kName, 0, REG_MULTI_SZ, list, sizeof list)));
  Query("RegQueryValueExA size only", key, 0);
  Query("RegQueryValueExA into 2 bytes", key, 2);
  Query("RegQueryValueExA into 16 bytes", key, 16);
  Query("RegQueryValueExA with data but no size", key, 16, false);

  probe::Value("RegSetValueExA empty list", static_cast<unsigned long long>(RegSetValueExA(key, kName, 0, REG_MULTI_SZ, list, 0)));
  Query("RegQueryValueExA of the empty value", key, 16);
  probe::Value("RegSetValueExA binary", static_cast<unsigned long long>(RegSetValueExA(key, kName, 0, REG_BINARY, list, 3)));
  Query("RegQueryValueExA of the binary value", key, 16);

  probe::Value("RegDeleteValueA", static_cast<unsigned long long>(RegDeleteValueA(key, kName)));
  probe::Value("RegDeleteValueA again", static_cast<unsigned long long>(RegDeleteValueA(key, kName)));
  probe::Value("RegCloseKey", static_cast<unsigned long long>(RegCloseKey(key)));

  HKEY readOnly = NULL;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kControl, 0, KEY_READ, &readOnly);
  probe::Value("RegSetValueExA on a key opened for reading",
               static_cast<unsigned long long>(RegSetValueExA(readOnly, kName, 0, REG_MULTI_SZ, list, sizeof list)));
  RegDeleteValueA(readOnly, kName);
  RegCloseKey(readOnly);
  return 0;
}
