#include "setup/inf_reading.h"

#include <cstring>

#include "platform/inf_value.h"

namespace devsetup {

UniqueInf OpenInfOfOwnClass(const char* infPath) {
  char infClass[MAX_PATH];
  std::memset(infClass, 0, sizeof infClass);
  GetPrivateProfileStringA("Version", "Class", "NULL", infClass, sizeof infClass, infPath);
  inf_value::EndAtComment(infClass);  // "MEDIA ; the class" declares MEDIA
  return UniqueInf(SetupOpenInfFileA(infPath, infClass, INF_STYLE_WIN4, nullptr));
}

DWORD WalkModelLines(HINF inf, const char* modelsSection, DWORD codeWhenNoLines, const ModelLineAction& action) {
  LONG count = SetupGetLineCountA(inf, modelsSection);
  if (count < 1) return codeWhenNoLines;
  for (LONG index = 0; index < count; ++index) {
    char modelId[MAX_PATH];
    std::memset(modelId, 0, sizeof modelId);  // never the previous line's id
    INFCONTEXT line;
    if (!SetupGetLineByIndexA(inf, modelsSection, static_cast<DWORD>(index), &line)) continue;
    if (!SetupGetStringFieldA(&line, 2, modelId, sizeof modelId, nullptr) || modelId[0] == '\0') continue;
    if (std::optional<DWORD> code = action(modelId)) return *code;
  }
  return 0;
}

}  // namespace devsetup
