#include "setup/hardware_id.h"


namespace devsetup {
namespace {

// Only ASCII letters fold: bytes of the system code page above 0x7F compare exactly.
char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string ReduceHardwareId(const std::string& hardwareId) {
  std::string reduced;
  bool first = true;
  size_t start = 0;
  // A final "&" leaves no piece after it; two adjacent ones leave an empty piece between.
  while (start < hardwareId.size()) {
    size_t amp = hardwareId.find('&', start);
    size_t end = amp == std::string::npos ? hardwareId.size() : amp;
    std::string piece = hardwareId.substr(start, end - start);
    start = amp == std::string::npos ? hardwareId.size() : amp + 1;
    if (piece.find("REV_") != std::string::npos) continue;
    if (!first) reduced += '&';
    reduced += piece;
    first = false;
  }
  return reduced;
}

bool ModelIdMatches(const std::string& reducedId, const std::string& modelId) {
  if (reducedId.size() < modelId.size()) return false;
  for (size_t i = 0; i < modelId.size(); ++i)
    if (FoldAscii(reducedId[i]) != FoldAscii(modelId[i])) return false;
  return true;
}

}  // namespace devsetup
