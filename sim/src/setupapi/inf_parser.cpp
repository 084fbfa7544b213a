// The INF parser of the simulated SetupAPI.
#include "setupapi/inf_parser.h"

#include <algorithm>
#include <cctype>

#include "kernel32/file_system.h"
#include "winsim/control_device_records.h"
#include "winsim/control_files.h"
#include "winsim/sdk/setupapi.h"
#include "runtime/text.h"

namespace winsim::detail {
namespace {

constexpr size_t kMaxSectionName = 255;
constexpr size_t kMaxFieldLength = 4096;

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// One field being read: its characters and which of them stood inside quotes, so that only
// unquoted blanks are trimmed.
struct FieldText {
  std::string text;
  std::vector<bool> quoted;

  void Add(char c, bool inQuotes) {
    text.push_back(c);
    quoted.push_back(inQuotes);
  }
  // Before a continuation: the blanks ahead of the backslash are dropped.
  void DropTrailingBlanks() {
    while (!text.empty() && !quoted.back() && IsBlank(text.back())) {
      text.pop_back();
      quoted.pop_back();
    }
  }
  // The field as read, cut at the longest field SetupAPI keeps.
  std::string Trimmed() const {
    size_t begin = 0, end = text.size();
    auto blank = [&](size_t i) { return !quoted[i] && IsBlank(text[i]); };
    while (begin < end && blank(begin)) ++begin;
    while (end > begin && blank(end - 1)) --end;
    return text.substr(begin, std::min(end - begin, kMaxFieldLength));
  }
};

// A backslash continues the line when only blanks and further backslashes follow it, up to the
// end of the line or a comment.
bool ContinuesLine(const std::string& line, size_t backslash) {
  for (size_t i = backslash + 1; i < line.size(); ++i) {
    if (line[i] == ';') return true;
    if (line[i] != '\\' && !IsBlank(line[i])) return false;
  }
  return true;
}

// Reads one logical line starting at physical line `*index`, following continuations.
// Returns false for a line with nothing on it.
bool ReadLogicalLine(const std::vector<std::string>& physical, size_t* index, InfLine* out) {
  std::vector<FieldText> fields(1);
  std::optional<FieldText> key;
  bool inQuotes = false;
  bool anyText = false;
  bool continuing = false;
  for (; *index < physical.size(); ++*index) {
    const std::string& line = physical[*index];
    bool continued = false;
    size_t i = 0;
    if (continuing)  // a continued line starts at its first non-blank character
      while (i < line.size() && IsBlank(line[i])) ++i;
    for (; i < line.size(); ++i) {
      char c = line[i];
      if (inQuotes) {
        if (c != '"') {
          fields.back().Add(c, true);
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
          fields.back().Add('"', true);
          ++i;
        } else {
          inQuotes = false;
        }
        continue;
      }
      if (c == ';') break;
      if (c == '"') {
        inQuotes = true;
        anyText = true;
        continue;
      }
      if (c == '\\' && ContinuesLine(line, i)) {
        fields.back().DropTrailingBlanks();
        continued = true;
        break;
      }
      if (c == '=' && !key && fields.size() == 1) {
        key = fields.back();
        fields.back() = FieldText{};
        anyText = true;
        continue;
      }
      if (c == ',') {
        fields.emplace_back();
        anyText = true;
        continue;
      }
      if (!IsBlank(c)) anyText = true;
      fields.back().Add(c, false);
    }
    inQuotes = false;  // a quote left open ends with its line
    if (!continued) break;
    continuing = true;
  }
  ++*index;
  if (!anyText) return false;
  out->fields.clear();
  for (const FieldText& field : fields) out->fields.push_back(field.Trimmed());
  if (key) {
    out->key = key->Trimmed();
  } else if (out->fields.size() == 1) {
    out->key = out->fields[0];  // a line of one value and no '=' is its own key
  } else {
    out->key.reset();
  }
  return true;
}

std::vector<std::string> PhysicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string content = text.substr(0, text.find('\x1A'));  // Ctrl-Z ends the file
  size_t start = 0;
  while (start <= content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The directories an INF names by number (DIRIDs) that this machine has.
std::optional<std::string> DirectoryOfId(const std::string& id) {
  std::string windows = WindowsDirectoryPath();
  if (id == "10") return windows;
  if (id == "11") return windows + "\\System32";
  if (id == "24") return windows.substr(0, 3);  // the root of the system drive, "C:\\"
  return std::nullopt;
}

// Class names of the setup classes an INF may name by ClassGUID alone.
struct KnownClass {
  const char* guid;
  const char* name;
};
const KnownClass kKnownClasses[] = {
    {"{4d36e96c-e325-11ce-bfc1-08002be10318}", "MEDIA"},
    {"{36fc9e60-c465-11cf-8056-444553540000}", "USB"},
    {"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}", "HIDClass"},
    {"{4d36e97d-e325-11ce-bfc1-08002be10318}", "System"},
};

}  // namespace

const InfSection* InfDocument::Find(const std::string& name) const {
  for (const InfSection& section : sections)
    if (Lower(section.name) == Lower(name)) return &section;
  return nullptr;
}

std::string InfDocument::Substitute(const std::string& text) const {
  const InfSection* strings = Find("Strings");
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
    if (close == std::string::npos) {
      out.push_back(text[i]);
      continue;
    }
    std::string name = text.substr(i + 1, close - i - 1);
    // "%%" is a percent sign.
    std::optional<std::string> value = name.empty() ? std::optional<std::string>(std::in_place, 1, '%') : DirectoryOfId(name);
    for (size_t line = 0; strings && !value && line < strings->lines.size(); ++line) {
      const InfLine& entry = strings->lines[line];
      if (entry.key && Lower(*entry.key) == Lower(name) && !entry.fields.empty()) value = entry.fields[0];
    }
    out += value ? *value : text.substr(i, close - i + 1);
    i = close;
  }
  return out;
}

std::optional<std::string> InfDocument::VersionValue(const std::string& key) const {
  const InfSection* version = Find("Version");
  if (!version) return std::nullopt;
  for (const InfLine& line : version->lines)
    if (line.key && Lower(*line.key) == Lower(key) && !line.fields.empty()) return Substitute(line.fields[0]);
  return std::nullopt;
}

bool InfDocument::IsWindows4() const {
  std::optional<std::string> signature = VersionValue("Signature");
  if (!signature) return false;
  std::string text = Lower(*signature);
  return text == "$windows nt$" || text == "$chicago$" || text == "$windows 95$";
}

std::optional<std::string> InfDocument::DeclaredClass() const {
  if (auto name = VersionValue("Class")) return name;
  if (auto guid = VersionValue("ClassGUID"))
    for (const KnownClass& known : kKnownClasses)
      if (Lower(*guid) == known.guid) return std::string(known.name);
  return std::nullopt;
}

bool ParseInf(const std::string& text, InfDocument* document, DWORD* error, UINT* errorLine) {
  std::vector<std::string> physical = PhysicalLines(text);
  document->sections.clear();
  InfSection* current = nullptr;
  // Lines before the first section are dropped when that section is [Strings]; before any other
  // section they are an error. A file with no section at all is no INF of any style.
  std::optional<UINT> firstStrayLine;
  for (size_t index = 0; index < physical.size();) {
    std::string trimmed = physical[index];
    trimmed.erase(0, trimmed.find_first_not_of(" \t\r"));
    if (!trimmed.empty() && trimmed[0] == '[') {
      size_t close = trimmed.find(']');
      std::string name = close == std::string::npos ? std::string() : trimmed.substr(1, close - 1);
      *errorLine = static_cast<UINT>(index + 1);
      if (close == std::string::npos) {
        *error = ERROR_BAD_SECTION_NAME_LINE;
        return false;
      }
      if (name.size() > kMaxSectionName) {
        *error = ERROR_SECTION_NAME_TOO_LONG;
        return false;
      }
      if (!current && firstStrayLine && Lower(name) != "strings") {
        *error = ERROR_EXPECTED_SECTION_NAME;
        *errorLine = *firstStrayLine;
        return false;
      }
      current = const_cast<InfSection*>(document->Find(name));
      if (!current) {
        document->sections.push_back({name, {}});
        current = &document->sections.back();
      }
      ++index;
      continue;
    }
    size_t first = index;
    InfLine line;
    if (!ReadLogicalLine(physical, &index, &line)) continue;
    if (!current) {
      if (!firstStrayLine) firstStrayLine = static_cast<UINT>(first + 1);
      continue;
    }
    current->lines.push_back(std::move(line));
  }
  return true;
}

bool LoadInfFile(const std::string& path, DWORD style, InfDocument* document, DWORD* error, UINT* errorLine) {
  std::optional<std::string> text;
  if (IsBareName(path)) {
    // A name alone is one of the system's INF files.
    for (const std::string& directory : {InfDirectoryPath(), WindowsDirectoryPath() + "\\System32"})
      if ((text = ReadWholeFile(directory + "\\" + path, error))) break;
  } else {
    text = ReadWholeFile(path, error);
  }
  return text && ParseInfOfStyle(*text, style, document, error, errorLine);
}

bool ParseInfOfStyle(const std::string& contents, DWORD style, InfDocument* document, DWORD* error, UINT* errorLine) {
  UINT line = 0;
  if (!ParseInf(AnsiTextOf(contents), document, error, &line)) {
    if (errorLine) *errorLine = line;
    return false;
  }
  bool windows4 = document->IsWindows4();
  if (!((windows4 && (style & INF_STYLE_WIN4)) || (!windows4 && (style & INF_STYLE_OLDNT)))) {
    *error = ERROR_WRONG_INF_STYLE;
    if (errorLine) *errorLine = 0;
    return false;
  }
  return true;
}

}  // namespace winsim::detail
