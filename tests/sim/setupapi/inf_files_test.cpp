// INF files as SetupAPI parses and opens them. The inf probe checks the rules against Wine's
// SetupAPI; where Wine differs from Windows (the class comparison on opening, a file with no
// section, the longest field), tests/probes/wine_exceptions.txt says how, and these follow Windows.
#include <doctest/doctest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/machine.h"
#include "support/unicode_file.h"
#include "winsim/control_files.h"

namespace {

const char kInf[] =
    "; a comment line\r\n"
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=%cls%\r\n"
    "\r\n"
    "[Models]\r\n"
    "key=install, USB\\VID_1&PID_2 , \"q,uo\"\"te\" ; comment\r\n"
    "nokey\r\n"
    "ab,cd\r\n"
    "cont=a,\\\r\n"
    "  b\r\n"
    "subst=x,%unknown%,%%,%CLS%\r\n"
    "empty=x,,z\r\n"
    "[models]\r\n"
    "more=y,z\r\n"
    "%Dev1% = Install1, USB\\VID_1A86&PID_0A3C \\\r\n"
    "    &MI_00\r\n"
    "Cont3 = x \\ ; c\r\n"
    "  y\r\n"
    "ab \\ \\\r\n"
    "cd=ef\r\n"
    "c \\\r\n"
    " \\ \r\n"
    " a\r\n"
    "dirs=%10%,%11%,%24%\r\n"
    "[Strings]\r\n"
    "cls=\"MEDIA\"\r\n"
    "Dev1=Device\r\n";

HINF OpenTestInf(const char* infClass = nullptr) {
  winsim::PutFile("C:\\d\\good.inf", kInf);
  return SetupOpenInfFileA("C:\\d\\good.inf", infClass, INF_STYLE_WIN4, nullptr);
}

// Fields 0 to 4 of a line; "-" for a field that cannot be read.
std::vector<std::string> Fields(HINF inf, DWORD index) {
  INFCONTEXT line;
  REQUIRE(SetupGetLineByIndexA(inf, "Models", index, &line));
  std::vector<std::string> fields;
  for (DWORD field = 0; field < 5; ++field) {
    char buffer[64];
    fields.push_back(SetupGetStringFieldA(&line, field, buffer, sizeof buffer, nullptr) ? buffer : "-");
  }
  return fields;
}

}  // namespace

TEST_CASE("lines: keys, fields, quotes, comments, continuation, %strkey%, merged sections") {
  testing::Machine machine;
  HINF inf = OpenTestInf();
  REQUIRE(inf != INVALID_HANDLE_VALUE);
  SetLastError(5);
  CHECK(SetupGetLineCountA(inf, "MODELS") == 12);
  CHECK(GetLastError() == 0);  // each of these calls clears it when it succeeds
  using F = std::vector<std::string>;
  CHECK(Fields(inf, 0) == F{"key", "install", "USB\\VID_1&PID_2", "q,uo\"te", "-"});
  CHECK(Fields(inf, 1) == F{"nokey", "nokey", "-", "-", "-"});  // one value and no '=': its own key
  CHECK(Fields(inf, 2) == F{"-", "ab", "cd", "-", "-"});
  CHECK(Fields(inf, 3) == F{"cont", "a", "b", "-", "-"});
  CHECK(Fields(inf, 4) == F{"subst", "x", "%unknown%", "%", "MEDIA"});
  CHECK(Fields(inf, 5) == F{"empty", "x", "", "z", "-"});
  CHECK(Fields(inf, 6) == F{"more", "y", "z", "-", "-"});
  // A backslash ends a line when only blanks, backslashes or a comment follow it; the blanks
  // around the join go.
  CHECK(Fields(inf, 7) == F{"Device", "Install1", "USB\\VID_1A86&PID_0A3C&MI_00", "-", "-"});
  CHECK(Fields(inf, 8) == F{"Cont3", "xy", "-", "-", "-"});
  CHECK(Fields(inf, 9) == F{"abcd", "ef", "-", "-", "-"});
  CHECK(Fields(inf, 10) == F{"ca", "ca", "-", "-", "-"});
  CHECK(Fields(inf, 11) == F{"dirs", "C:\\Windows", "C:\\Windows\\System32", "C:\\", "-"});

  INFCONTEXT line;
  CHECK_FALSE(SetupGetLineByIndexA(inf, "Models", 12, &line));
  CHECK(GetLastError() == ERROR_LINE_NOT_FOUND);
  CHECK_FALSE(SetupGetLineByIndexA(inf, "Absent", 0, &line));
  CHECK(GetLastError() == ERROR_LINE_NOT_FOUND);
  SetLastError(5);
  CHECK(SetupGetLineByIndexA(inf, "Models", 0, &line));
  CHECK(GetLastError() == 0);
  CHECK(SetupGetLineCountA(inf, "Absent") == -1);
  CHECK(winsim::LiveHandleCount() == 1);  // an open INF is a live handle
  SetupCloseInfFile(inf);
}

TEST_CASE("SetupGetStringFieldA's size rules") {
  testing::Machine machine;
  HINF inf = OpenTestInf();
  INFCONTEXT line;
  REQUIRE(SetupGetLineByIndexA(inf, "Models", 0, &line));
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  DWORD required = 0;
  CHECK_FALSE(SetupGetStringFieldA(&line, 2, buffer, 4, &required));
  CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  CHECK(required == 16);
  CHECK(buffer[0] == 'x');  // left as it was
  required = 0;
  CHECK(SetupGetStringFieldA(&line, 2, nullptr, 0, &required));
  CHECK(required == 16);
  SetLastError(5);
  CHECK(SetupGetStringFieldA(&line, 2, buffer, 16, nullptr));
  CHECK(std::string(buffer) == "USB\\VID_1&PID_2");
  CHECK(GetLastError() == 0);
  SetupCloseInfFile(inf);

  // A field is cut at 4,096 characters.
  winsim::PutFile("C:\\d\\long.inf", "[Version]\r\nSignature=$Chicago$\r\n[Models]\r\nk=" + std::string(5000, 'a'));
  inf = SetupOpenInfFileA("C:\\d\\long.inf", nullptr, INF_STYLE_WIN4, nullptr);
  REQUIRE(SetupGetLineByIndexA(inf, "Models", 0, &line));
  CHECK(SetupGetStringFieldA(&line, 1, nullptr, 0, &required));
  CHECK(required == 4097);
  SetupCloseInfFile(inf);
}

TEST_CASE("opening: style, class, and the errors for files that are no such INF") {
  testing::Machine machine;
  winsim::PutFile("C:\\d\\good.inf", kInf);
  winsim::PutFile("C:\\d\\old.inf", "[Version]\r\nSignature=\"$Unknown$\"\r\nClass=Media\r\n");
  winsim::PutFile("C:\\d\\plain.inf", "just text\r\n");
  winsim::PutFile("C:\\d\\badsection.inf", "[Version]\r\nSignature=$Chicago$\r\n[Unclosed\r\n");
  winsim::PutFile("C:\\d\\guid.inf", "[Version]\r\nSignature=$CHICAGO$\r\nClassGUID={4D36E96C-E325-11CE-BFC1-08002BE10318}\r\n");
  winsim::PutFile("C:\\d\\noclass.inf", "[Version]\r\nSignature=$Windows NT$\r\n");
  winsim::PutFile("C:\\d\\comment.inf", "[Version]\r\nSignature=$Windows NT$\r\nClass=MEDIA ; the class\r\n");
  winsim::PutFile("C:\\d\\stray1.inf", "stray\r\n[Strings]\r\n[Version]\r\nSignature=$Windows NT$\r\n");
  winsim::PutFile("C:\\d\\stray2.inf", "\r\nstray\r\n[Version]\r\nSignature=$Windows NT$\r\n[Strings]\r\n");
  winsim::PutFile("C:\\d\\unicode.inf", testing::Utf16LeFile(kInf));
  winsim::PutFile("C:\\Windows\\INF\\system.inf", kInf);
  struct Case {
    const char* file;
    const char* infClass;
    DWORD error;  // 0: opens
    UINT errorLine;
  } cases[] = {
      {"C:\\d\\good.inf", "media", 0, 77},          // the substituted Class, ignoring case
      {"C:\\d\\good.inf", "%cls%", ERROR_CLASS_MISMATCH, 77},
      {"C:\\d\\good.inf", "Net", ERROR_CLASS_MISMATCH, 77},
      {"C:\\d\\good.inf", nullptr, 0, 77},
      {"C:\\d\\guid.inf", "MEDIA", 0, 77},          // the class of its ClassGUID
      {"C:\\d\\noclass.inf", "NULL", ERROR_CLASS_MISMATCH, 77},
      {"C:\\d\\noclass.inf", nullptr, 0, 77},
      {"C:\\d\\old.inf", nullptr, ERROR_WRONG_INF_STYLE, 0},
      {"C:\\d\\comment.inf", "media", 0, 77},      // the value ends before its comment
      {"C:\\d\\unicode.inf", "media", 0, 77},      // UTF-16LE with its byte-order mark
      {"C:\\d\\stray1.inf", nullptr, 0, 77},       // lines before a first [Strings] are dropped
      {"C:\\d\\stray2.inf", nullptr, ERROR_EXPECTED_SECTION_NAME, 2},
      {"C:\\d\\plain.inf", nullptr, ERROR_WRONG_INF_STYLE, 0},  // no section, so no signature
      {"C:\\d\\badsection.inf", nullptr, ERROR_BAD_SECTION_NAME_LINE, 3},
      {"C:\\d\\missing.inf", nullptr, ERROR_FILE_NOT_FOUND, 77},
      {"C:\\nodir\\x.inf", nullptr, ERROR_PATH_NOT_FOUND, 77},
      {"C:\\d", nullptr, ERROR_ACCESS_DENIED, 77},
      {"system.inf", nullptr, 0, 77},               // a bare name is one of the system's INFs
      {"good.inf", nullptr, ERROR_FILE_NOT_FOUND, 77},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.file));
    CAPTURE(std::string(c.infClass ? c.infClass : "(none)"));
    UINT errorLine = 77;
    SetLastError(5);
    HINF inf = SetupOpenInfFileA(c.file, c.infClass, INF_STYLE_WIN4, &errorLine);
    CHECK((inf != INVALID_HANDLE_VALUE) == (c.error == 0));
    CHECK(GetLastError() == c.error);
    CHECK(errorLine == c.errorLine);
    if (inf != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf);
  }
  HINF old = SetupOpenInfFileA("C:\\d\\old.inf", nullptr, INF_STYLE_OLDNT, nullptr);
  CHECK(old != INVALID_HANDLE_VALUE);
  SetupCloseInfFile(old);
}

TEST_CASE("SetupGetInfFileListA: the Windows-4 INFs of a directory as a multi-string") {
  testing::Machine machine;
  winsim::PutFile("C:\\d\\good.inf", kInf);
  winsim::PutFile("C:\\d\\Guid.INF", "[Version]\r\nSignature=$Chicago$\r\n");
  winsim::PutFile("C:\\d\\g_u.inf", testing::Utf16LeFile("[Version]\r\nSignature=$Chicago$\r\n"));
  winsim::PutFile("C:\\d\\old.inf", "[Version]\r\nSignature=\"$Unknown$\"\r\n");
  winsim::PutFile("C:\\d\\notes.txt", "[Version]\r\nSignature=$Chicago$\r\n");
  winsim::CreateDirectoryPath("C:\\d\\sub.inf");
  winsim::CreateDirectoryPath("C:\\empty");
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  DWORD required = 0;
  CHECK(SetupGetInfFileListA("c:\\D\\", INF_STYLE_WIN4, buffer, sizeof buffer, &required));
  // In the order of the names upper-cased; a Unicode INF is one of them.
  const std::string list("good.inf\0Guid.INF\0g_u.inf\0\0", 27);
  CHECK(std::string(buffer, required) == list);

  std::memset(buffer, 'x', sizeof buffer);
  CHECK_FALSE(SetupGetInfFileListA("C:\\d", INF_STYLE_WIN4, buffer, 26, &required));
  CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  CHECK(required == 27);
  CHECK(buffer[0] == 'x');
  required = 0;
  CHECK(SetupGetInfFileListA("C:\\d", INF_STYLE_WIN4, nullptr, 100, &required));  // the size is ignored
  CHECK(required == 27);

  CHECK(SetupGetInfFileListA("C:\\empty", INF_STYLE_WIN4, buffer, sizeof buffer, &required));
  CHECK(required == 1);
  CHECK(buffer[0] == '\0');
  CHECK_FALSE(SetupGetInfFileListA("C:\\nodir", INF_STYLE_WIN4, buffer, sizeof buffer, nullptr));
  CHECK(GetLastError() == ERROR_PATH_NOT_FOUND);
}
