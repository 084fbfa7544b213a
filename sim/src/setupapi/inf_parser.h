// INF files as SetupAPI parses them: sections (those of one name merged), lines with an
// optional key and comma-separated fields, quotes, comments, line continuation, and
// %strkey% substitution from [Strings] when a field is read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "winsim/sdk/minwindef.h"

namespace winsim::detail {

struct InfLine {
  std::optional<std::string> key;   // field 0
  std::vector<std::string> fields;  // fields 1, 2, ...
};

struct InfSection {
  std::string name;
  std::vector<InfLine> lines;
};

class InfDocument {
 public:
  std::vector<InfSection> sections;

  // Section names compare without regard to case; null when absent.
  const InfSection* Find(const std::string& name) const;
  // A field's text as SetupGetStringFieldA returns it: %10%, %11% and %24% replaced by their
  // directories, %strkey% from [Strings] (ignoring case), %% as %, unknown keys left as written.
  std::string Substitute(const std::string& text) const;
  // Field 1 of a [Version] entry, substituted; none when absent.
  std::optional<std::string> VersionValue(const std::string& key) const;
  // A [Version] signature of "$Windows NT$", "$Chicago$" or "$Windows 95$".
  bool IsWindows4() const;
  // The class the INF declares: its Class entry, else the name of its ClassGUID's class.
  std::optional<std::string> DeclaredClass() const;
};

// Parses INF text; on a syntax error returns false with the SetupAPI error and the line.
bool ParseInf(const std::string& text, InfDocument* document, DWORD* error, UINT* errorLine);

// Parses an INF file's contents (ANSI, or UTF-16LE with its byte-order mark) and checks its
// style (INF_STYLE_* bits).
bool ParseInfOfStyle(const std::string& text, DWORD style, InfDocument* document, DWORD* error, UINT* errorLine);

// Reads and parses an INF file (ANSI, or UTF-16LE with its byte-order mark) and checks its style
// (INF_STYLE_* bits); errors as SetupOpenInfFileA reports them. A bare name is looked for in
// the system INF folder.
bool LoadInfFile(const std::string& path, DWORD style, InfDocument* document, DWORD* error, UINT* errorLine);

}  // namespace winsim::detail
