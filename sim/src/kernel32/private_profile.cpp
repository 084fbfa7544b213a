// GetPrivateProfileStringA as Windows reads INI-style files (INF files included; ANSI, or UTF-16LE
// with its byte-order mark, converted to the ANSI code page): sections and
// keys without regard to case, values trimmed and stripped of one pair of enclosing quotes,
// inline ';' kept as part of the value, and the documented truncation and return counts.
#include <algorithm>
#include <cstring>

#include "kernel32/file_system.h"
#include "winsim/control_files.h"
#include "winsim/sdk/winbase.h"
#include "runtime/fault_injection.h"
#include "runtime/text.h"

namespace winsim::detail {
namespace {

struct ProfileEntry {
  std::string key;
  std::string value;
};

struct ProfileSection {
  std::string name;
  std::vector<ProfileEntry> entries;
};

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::string StripQuotes(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

std::vector<ProfileSection> ParseProfile(const std::string& text) {
  std::vector<ProfileSection> sections;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      sections.push_back({Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)), {}});
      continue;
    }
    if (sections.empty()) continue;  // lines before the first section belong to none
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;  // a line without '=' is no entry
    sections.back().entries.push_back({Trim(line.substr(0, equals)), StripQuotes(Trim(line.substr(equals + 1)))});
  }
  return sections;
}

const ProfileSection* FindSection(const std::vector<ProfileSection>& sections, const std::string& name) {
  for (const ProfileSection& section : sections)
    if (Lower(section.name) == Lower(name)) return &section;
  return nullptr;
}

// A single string: at most nSize - 1 characters and the NUL; returns the characters copied.
DWORD CopyString(const std::string& text, LPSTR out, DWORD size) {
  DWORD count = std::min<DWORD>(static_cast<DWORD>(text.size()), size - 1);
  std::memcpy(out, text.data(), count);
  out[count] = '\0';
  return count;
}

// A list of names, each with its NUL, then one more NUL. When it does not fit, the last name is
// cut so that two NULs end the buffer, and the count is nSize - 2.
DWORD CopyNames(const std::vector<std::string>& names, LPSTR out, DWORD size) {
  std::string list;
  for (const std::string& name : names) list += name + '\0';
  if (list.size() + 1 <= size) {
    std::memcpy(out, list.data(), list.size());
    out[list.size()] = '\0';
    return static_cast<DWORD>(list.size());
  }
  if (size < 2) {
    out[0] = '\0';
    return 0;
  }
  std::memcpy(out, list.data(), size - 2);
  out[size - 2] = '\0';
  out[size - 1] = '\0';
  return size - 2;
}

std::string ProfilePath(LPCSTR fileName) {
  std::string name = fileName ? fileName : "win.ini";
  return IsBareName(name) ? WindowsDirectoryPath() + "\\" + name : name;
}

std::string DefaultValue(LPCSTR value) {
  std::string text = value ? value : "";
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                                 LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  if (lpReturnedString == nullptr || nSize == 0) return 0;
  DWORD error = 0;
  std::optional<std::string> text;
  if (!ConsumeFault("GetPrivateProfileStringA", &error)) text = ReadAnsiTextFile(ProfilePath(lpFileName), &error);
  std::vector<ProfileSection> sections;
  if (text) {
    sections = ParseProfile(*text);
  } else {
    SetLastError(error);
  }

  if (lpAppName == nullptr) {
    std::vector<std::string> names;
    for (const ProfileSection& section : sections) names.push_back(section.name);
    return CopyNames(names, lpReturnedString, nSize);
  }
  const ProfileSection* section = FindSection(sections, lpAppName);
  if (lpKeyName == nullptr && section) {
    std::vector<std::string> keys;
    for (const ProfileEntry& entry : section->entries) keys.push_back(entry.key);
    return CopyNames(keys, lpReturnedString, nSize);
  }
  // An absent key, or the key list of an absent section: the default.
  if (section && lpKeyName)
    for (const ProfileEntry& entry : section->entries)
      if (Lower(entry.key) == Lower(lpKeyName)) return CopyString(entry.value, lpReturnedString, nSize);
  return CopyString(DefaultValue(lpDefault), lpReturnedString, nSize);
}
