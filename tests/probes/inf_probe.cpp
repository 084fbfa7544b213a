// INF files, INI-style profile reads and the driver store as devsetup and classhook use them:
// line continuation, comments, stray lines, Unicode files, directory ids, the listing of a
// folder's INFs, SetupCopyOEMInfA's source paths, and the last error each call leaves.
#include <cctype>
#include <cstring>
#include <string>

#include "probe.h"
#include "probe_files.h"

namespace {

const std::string kDir = "C:\\probeinf";
const std::string kHeader = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=MEDIA ; the class\r\n";

std::string Path(const char* name) { return kDir + "\\" + name; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Text with bytes outside printable ASCII as \xHH, so that both outputs compare as ASCII.
std::string Escaped(const char* text) {
  std::string out;
  for (const char* c = text; *c; ++c) {
    auto byte = static_cast<unsigned char>(*c);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    out += byte >= 0x20 && byte < 0x7F ? std::string(1, *c) : std::string(hex);
  }
  return out;
}

// Field `field` of line `index` of [Models]: its text, or "-" when it cannot be read.
void PrintField(HINF inf, DWORD index, DWORD field) {
  std::string label = "Models line " + std::to_string(index) + " field " + std::to_string(field);
  INFCONTEXT line;
  char text[64] = "-";
  if (SetupGetLineByIndexA(inf, "Models", index, &line)) SetupGetStringFieldA(&line, field, text, sizeof text, NULL);
  std::printf("%s: [%s]\n", label.c_str(), Escaped(text).c_str());
}

// The required size of field 1 of the first line of [Models].
void PrintFieldSize(HINF inf, const char* label) {
  INFCONTEXT line;
  DWORD required = 0;
  BOOL ok = SetupGetLineByIndexA(inf, "Models", 0, &line) && SetupGetStringFieldA(&line, 1, NULL, 0, &required);
  probe::Value(label, ok ? required : 0);
}

void PrintOpen(const char* label, const char* name, const char* infClass) {
  UINT errorLine = 77;
  SetLastError(probe::kUnset);
  HINF inf = SetupOpenInfFileA(Path(name).c_str(), infClass, INF_STYLE_WIN4, &errorLine);
  DWORD error = GetLastError();
  bool opened = inf != INVALID_HANDLE_VALUE;
  std::printf("%s: %d error %lu line %u\n", label, opened ? 1 : 0, static_cast<unsigned long>(error), opened ? 0 : errorLine);
  if (opened) SetupCloseInfFile(inf);
}

void Continuation() {
  probe::PutFile(kDir, "cont.inf",
                 kHeader +
                     "[Models]\r\n"
                     "%Dev1% = Install1, USB\\VID_1A86&PID_0A3C \\\r\n"
                     "    &MI_00\r\n"
                     "Cont3 = x \\ ; c\r\n"
                     "  y\r\n"
                     "ab \\ \\\r\n"
                     "cd=ef\r\n"
                     "c \\\r\n"
                     " \\ \r\n"
                     " a\r\n"
                     "back\\slash = a\\b\r\n"
                     "[Strings]\r\n"
                     "Dev1=\"Device one\"\r\n");
  HINF inf = SetupOpenInfFileA(Path("cont.inf").c_str(), NULL, INF_STYLE_WIN4, NULL);
  SetLastError(probe::kUnset);
  probe::Result("continued lines in [Models]", static_cast<unsigned long long>(SetupGetLineCountA(inf, "Models")));
  for (DWORD index = 0; index < 5; ++index)
    for (DWORD field = 0; field < 3; ++field) PrintField(inf, index, field);
  SetupCloseInfFile(inf);
}

void LastErrors() {
  probe::PutFile(kDir, "dirs.inf", kHeader + "[Models]\r\nd=%10%,%11%,%24%\r\n[Strings]\r\nx=y\r\n");
  SetLastError(probe::kUnset);
  HINF inf = SetupOpenInfFileA(Path("dirs.inf").c_str(), "MEDIA", INF_STYLE_WIN4, NULL);
  probe::Result("SetupOpenInfFileA of a Class= with a comment", inf != INVALID_HANDLE_VALUE);
  SetLastError(probe::kUnset);
  probe::Result("SetupGetLineCountA", static_cast<unsigned long long>(SetupGetLineCountA(inf, "Models")));
  INFCONTEXT line;
  SetLastError(probe::kUnset);
  probe::Result("SetupGetLineByIndexA", SetupGetLineByIndexA(inf, "Models", 0, &line));
  char text[260];
  for (DWORD field = 1; field <= 3; ++field) {
    SetLastError(probe::kUnset);
    BOOL ok = SetupGetStringFieldA(&line, field, text, sizeof text, NULL);
    probe::Result("SetupGetStringFieldA", ok);
    std::printf("  directory id field %lu: %s\n", static_cast<unsigned long>(field), ok ? Upper(text).c_str() : "-");
  }
  SetLastError(probe::kUnset);
  probe::Result("SetupGetLineByIndexA of an absent section", SetupGetLineByIndexA(inf, "Absent", 0, &line));
  SetLastError(probe::kUnset);
  probe::Result("SetupGetLineCountA of an absent section",
                static_cast<unsigned long long>(SetupGetLineCountA(inf, "Absent") + 1));
  SetupCloseInfFile(inf);
}

void Opening() {
  probe::PutFile(kDir, "stray_strings.inf", "stray\r\n[Strings]\r\nx=y\r\n" + kHeader);
  probe::PutFile(kDir, "stray_version.inf", "\r\nstray\r\n" + kHeader);
  probe::PutFile(kDir, "plain.inf", "just some text\r\n");
  probe::PutFile(kDir, "long.inf", kHeader + "[Models]\r\nlong=" + std::string(5000, 'a') + "\r\n");
  PrintOpen("SetupOpenInfFileA of another class", "dirs.inf", "Net");
  PrintOpen("SetupOpenInfFileA, stray line before [Strings]", "stray_strings.inf", NULL);
  PrintOpen("SetupOpenInfFileA, stray line before [Version]", "stray_version.inf", NULL);
  PrintOpen("SetupOpenInfFileA of plain text", "plain.inf", NULL);
  HINF inf = SetupOpenInfFileA(Path("long.inf").c_str(), NULL, INF_STYLE_WIN4, NULL);
  PrintFieldSize(inf, "size of a 5000-character field");
  SetupCloseInfFile(inf);
}

void UnicodeFiles() {
  probe::PutFile(kDir, "unicode.inf", testing::Utf16LeFile(kHeader + "[Models]\r\n%D% = Caf\xE9, USB\\VID_1\r\n"
                                                                   "[Strings]\r\nD=\"D\xFC\"\r\n"));
  probe::PutFile(kDir, "unicode.ini", testing::Utf16LeFile("[Section]\r\nKey = caf\xE9 \r\n"));
  SetLastError(probe::kUnset);
  HINF inf = SetupOpenInfFileA(Path("unicode.inf").c_str(), NULL, INF_STYLE_WIN4, NULL);
  probe::Result("SetupOpenInfFileA of a UTF-16LE INF", inf != INVALID_HANDLE_VALUE);
  probe::Value("  lines in [Models]", static_cast<unsigned long long>(SetupGetLineCountA(inf, "Models")));
  for (DWORD field = 0; field < 3; ++field) PrintField(inf, 0, field);
  SetupCloseInfFile(inf);
  char value[64] = "";
  DWORD count = GetPrivateProfileStringA("Section", "Key", "NULL", value, sizeof value, Path("unicode.ini").c_str());
  std::printf("GetPrivateProfileStringA of a UTF-16LE file: %lu [%s]\n", static_cast<unsigned long>(count),
              Escaped(value).c_str());
  count = GetPrivateProfileStringA("Version", "Class", "NULL", value, sizeof value, Path("unicode.inf").c_str());
  std::printf("GetPrivateProfileStringA of a UTF-16LE INF: %lu [%s]\n", static_cast<unsigned long>(count), value);
}

void ProfileReads() {
  char value[64] = "";
  SetLastError(probe::kUnset);
  DWORD count = GetPrivateProfileStringA("Version", "Class", "NULL", value, sizeof value, Path("dirs.inf").c_str());
  probe::Result("GetPrivateProfileStringA of Class=", count);
  std::printf("  value: [%s]\n", value);
  std::strcpy(value, "x");
  count = GetPrivateProfileStringA("Version", "Absent", "   ", value, sizeof value, Path("dirs.inf").c_str());
  std::printf("GetPrivateProfileStringA with a blanks-only default: %lu [%s]\n", static_cast<unsigned long>(count), value);
}

void InfList() {
  const std::string list = kDir + "\\list";
  for (const char* name : {"e.inf", "B.INF", "a_b.inf", "ab.inf", "a.inf"}) probe::PutFile(list, name, kHeader);
  probe::PutFile(list, "c.inf", testing::Utf16LeFile(kHeader));
  probe::PutFile(list, "text.inf", "just some text\r\n");
  char buffer[256];
  DWORD required = 0;
  probe::Flag("SetupGetInfFileListA", SetupGetInfFileListA(list.c_str(), INF_STYLE_WIN4, buffer, sizeof buffer, &required));
  std::printf("  listing:");
  for (const char* name = buffer; *name; name += std::strlen(name) + 1) std::printf(" %s", name);
  std::printf("\n");
  probe::Value("  required", required);
  required = 0;
  probe::Flag("SetupGetInfFileListA without a buffer, size 100",
              SetupGetInfFileListA(list.c_str(), INF_STYLE_WIN4, NULL, 100, &required));
  probe::Value("  required without a buffer", required);
  SetLastError(probe::kUnset);
  probe::Result("SetupGetInfFileListA into a buffer too small",
                SetupGetInfFileListA(list.c_str(), INF_STYLE_WIN4, buffer, 10, &required));
}

void CopyOem(const char* label, const std::string& source) {
  char destination[MAX_PATH] = "";
  PSTR component = NULL;
  SetLastError(probe::kUnset);
  BOOL ok = SetupCopyOEMInfA(source.c_str(), kDir.c_str(), SPOST_PATH, 0, destination, sizeof destination, NULL, &component);
  probe::Result(label, ok);
  if (!ok) return;
  probe::Flag("  published as oemNN.inf", component && std::strncmp(Upper(component).c_str(), "OEM", 3) == 0);
  probe::RemoveFile(destination);  // every run finds the driver store as it was
  std::string pnf = destination;
  probe::RemoveFile(pnf.replace(pnf.size() - 3, 3, "pnf"));
}

void DriverStore() {
  probe::PutFile(kDir, "p2rel.inf", kHeader + "[Models]\r\np2=Install,USB\\VID_2\r\n");
  CopyOem("SetupCopyOEMInfA of a full path", Path("p2rel.inf"));
  CopyOem("SetupCopyOEMInfA of a UTF-16LE INF", Path("unicode.inf"));
  probe::ChangeDirectory(kDir);
  CopyOem("SetupCopyOEMInfA of a name in the current directory", "p2rel.inf");
  CopyOem("SetupCopyOEMInfA of .\\name", ".\\p2rel.inf");
  CopyOem("SetupCopyOEMInfA of an empty name", "");
  CopyOem("SetupCopyOEMInfA of plain text", Path("plain.inf"));
}

// The full paths devsetup makes of its arguments: joined with the current directory, names not
// checked, the last name's trailing dots and blanks dropped, a trailing separator kept.
void FullPaths() {
  probe::ChangeDirectory(kDir);
  const char* const paths[] = {"a.inf",     "..\\x\\",  "\\x",       "C:x",         "a*b",      "x.inf. .",
                               "C:/a//b",   ".",          "C:\\",        "\\\\srv\\sh\\x\\..\\y"};
  for (const char* path : paths) {
    char full[MAX_PATH] = "-";
    LPSTR filePart = NULL;
    DWORD length = GetFullPathNameA(path, sizeof full, full, &filePart);
    std::printf("GetFullPathNameA [%s]: %lu [%s] part [%s]\n", path, static_cast<unsigned long>(length), full,
                filePart ? filePart : "(none)");
  }
  probe::Value("GetFullPathNameA size for a buffer too small", GetFullPathNameA("a.inf", 4, NULL, NULL));
  probe::Value("GetFullPathNameA of an empty name", GetFullPathNameA("", MAX_PATH, NULL, NULL));
}

}  // namespace

int main() {
  Continuation();
  LastErrors();
  Opening();
  UnicodeFiles();
  ProfileReads();
  InfList();
  DriverStore();
  FullPaths();
  return 0;
}
