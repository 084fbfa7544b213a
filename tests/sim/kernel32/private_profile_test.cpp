// GetPrivateProfileStringA as Windows reads INI-style files.
#include <doctest/doctest.h>

#include <cstring>
#include <string>

#include "support/machine.h"
#include "support/unicode_file.h"
#include "winsim/control_files.h"

namespace {

const char kProfile[] =
    "; leading comment\r\n"
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=Media ; not a comment here\r\n"
    "Quoted = \"  spaced  \"\r\n"
    "Single='one'\r\n"
    "Odd=\"unbalanced\r\n"
    "  Padded  =   value   \r\n"
    "Bare\r\n"
    "[  Other  ]\r\n"
    "k=v\r\n"
    "[version]\r\n"
    "Late=ignored, the first section of the name answers\r\n";

struct Read {
  std::string text;
  DWORD count;
};

Read ReadProfile(const char* section, const char* key, const char* fallback, DWORD size,
                 const char* file = "C:\\p\\a.inf") {
  std::string buffer(size + 8, 'x');
  DWORD count = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file);
  return {buffer.substr(0, size), count};
}

}  // namespace

TEST_CASE("values: case-insensitive section and key, trimmed, one pair of quotes stripped, ';' kept") {
  testing::Machine machine;
  winsim::PutFile("C:\\p\\a.inf", kProfile);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"version", "CLASS", "Media ; not a comment here"},
      {"Version", "Signature", "$Windows NT$"},
      {"Version", "Quoted", "  spaced  "},
      {"Version", "Single", "one"},
      {"Version", "Odd", "\"unbalanced"},
      {"Version", "padded", "value"},
      {"Version", "Bare", "NULL"},  // a line without '=' is no entry
      {"other", "k", "v"},
      {"Version", "Late", "NULL"},
      {"Version", "Absent", "NULL"},
      {"Absent", "Class", "NULL"},
  };
  for (const Case& c : cases) {
    CAPTURE(c.key);
    Read read = ReadProfile(c.section, c.key, "NULL", 260);
    CHECK(std::string(read.text.c_str()) == c.expected);
    CHECK(read.count == std::strlen(c.expected));
  }
}

TEST_CASE("truncation, the default and the lists of keys and sections") {
  testing::Machine machine;
  winsim::PutFile("C:\\p\\a.inf", kProfile);
  Read cut = ReadProfile("Version", "Class", "NULL", 4);
  CHECK(cut.count == 3);
  CHECK(cut.text == std::string("Med\0", 4));
  CHECK(ReadProfile("Version", "Absent", "dflt  ", 260).text.c_str() == std::string("dflt"));  // trailing blanks go
  CHECK(ReadProfile("Version", "Absent", nullptr, 260).count == 0);
  CHECK(ReadProfile("Version", "Class", "NULL", 0).count == 0);
  CHECK(std::string(ReadProfile("Absent", nullptr, "dflt", 260).text.c_str()) == "dflt");

  Read keys = ReadProfile("Other", nullptr, "NULL", 260);
  CHECK(keys.count == 2);
  CHECK(keys.text.substr(0, 3) == std::string("k\0\0", 3));
  Read cutKeys = ReadProfile("Version", nullptr, "NULL", 8);  // "Signature\0Class\0..." does not fit
  CHECK(cutKeys.count == 6);
  CHECK(cutKeys.text == std::string("Signat\0\0", 8));
  Read sections = ReadProfile(nullptr, nullptr, "NULL", 260);
  CHECK(sections.text.substr(0, 23) == std::string("Version\0Other\0version\0\0", 23));
}

TEST_CASE("a missing file gives the default and ERROR_FILE_NOT_FOUND; a bare name is in the Windows directory") {
  testing::Machine machine;
  winsim::PutFile("C:\\p\\a.inf", kProfile);
  winsim::SetCurrentDirectoryPath("C:\\p");
  SetLastError(0);
  CHECK(std::string(ReadProfile("Version", "Class", "NULL", 260, "a.inf").text.c_str()) == "NULL");
  CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
  winsim::PutFile("C:\\Windows\\a.inf", "[Version]\nClass=Net\n");
  CHECK(std::string(ReadProfile("Version", "Class", "NULL", 260, "a.inf").text.c_str()) == "Net");
  CHECK(std::string(ReadProfile("Version", "Class", "NULL", 260, ".\\a.inf").text.c_str()) ==
        "Media ; not a comment here");
}

TEST_CASE("a UTF-16LE file with its byte-order mark is read in the ANSI code page") {
  testing::Machine machine;
  winsim::PutFile("C:\\p\\u.ini", testing::Utf16LeFile(u"[Version]\r\nClass = Caf\u00E9 \r\nEuro=\u20AC\r\n"));
  CHECK(std::string(ReadProfile("version", "class", "NULL", 260, "C:\\p\\u.ini").text.c_str()) == "Caf\xE9");
  CHECK(std::string(ReadProfile("version", "euro", "NULL", 260, "C:\\p\\u.ini").text.c_str()) == "\x80");
  winsim::SetAnsiCodePage(932);  // Shift JIS has no euro sign
  CHECK(std::string(ReadProfile("version", "euro", "NULL", 260, "C:\\p\\u.ini").text.c_str()) == "?");
}
