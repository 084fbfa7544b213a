// SetupAPI INF access: opening an INF of a class and style, its lines and fields, and the list
// of the INF files of a directory.
#include <cstring>

#include "kernel32/file_system.h"
#include "setupapi/inf_parser.h"
#include "winsim/control_files.h"
#include "winsim/sdk/setupapi.h"
#include "runtime/last_error.h"
#include "runtime/fault_injection.h"
#include "runtime/handle_table.h"
#include "runtime/text.h"

namespace winsim::detail {
namespace {

// An open INF. In the handle table so that an INF left open shows as a leak; only
// SetupCloseInfFile closes it.
struct InfHandle : KernelObject {
  bool ClosableByCloseHandle() const override { return false; }
  InfDocument document;
};

std::shared_ptr<InfHandle> LookupInf(HINF inf) {
  if (inf == INVALID_HANDLE_VALUE) return nullptr;
  return LookupAs<InfHandle>(static_cast<HANDLE>(inf));
}

// These calls clear the last error when they succeed.
BOOL Succeed() {
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

HINF FailOpen(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

const InfLine* LineOf(const InfHandle& inf, const INFCONTEXT& context) {
  if (context.Section >= inf.document.sections.size()) return nullptr;
  const InfSection& section = inf.document.sections[context.Section];
  return context.Line < section.lines.size() ? &section.lines[context.Line] : nullptr;
}

bool IsInfName(const std::string& name) { return name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".inf"; }

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, UINT* ErrorLine) {
  DWORD error = 0;
  if (ConsumeFault("SetupOpenInfFileA", &error)) return FailOpen(error);
  if (FileName == nullptr) return FailOpen(ERROR_INVALID_PARAMETER);
  auto inf = std::make_shared<InfHandle>();
  if (!LoadInfFile(FileName, InfStyle, &inf->document, &error, ErrorLine)) return FailOpen(error);
  if (InfClass != nullptr) {
    // The class asked for must be the one the INF declares; an INF that declares none
    // matches no class.
    std::optional<std::string> declared = inf->document.DeclaredClass();
    if (!declared || Lower(*declared) != Lower(InfClass)) return FailOpen(ERROR_CLASS_MISMATCH);
  }
  HINF handle = InsertHandle(std::move(inf));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

void WINAPI SetupCloseInfFile(HINF InfHandle) {
  CountCall("SetupCloseInfFile");
  if (LookupInf(InfHandle)) RemoveHandle(static_cast<HANDLE>(InfHandle));
}

LONG WINAPI SetupGetLineCountA(HINF InfHandle, PCSTR Section) {
  DWORD error = 0;
  if (ConsumeFault("SetupGetLineCountA", &error)) {
    SetLastError(error);
    return -1;
  }
  auto inf = LookupInf(InfHandle);
  if (!inf) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  const InfSection* section = Section ? inf->document.Find(Section) : nullptr;
  if (!section) {
    SetLastError(ERROR_SECTION_NOT_FOUND);
    return -1;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<LONG>(section->lines.size());
}

BOOL WINAPI SetupGetLineByIndexA(HINF InfHandle, PCSTR Section, DWORD Index, PINFCONTEXT Context) {
  DWORD error = 0;
  if (ConsumeFault("SetupGetLineByIndexA", &error)) return Fail(error);
  auto inf = LookupInf(InfHandle);
  if (!inf) return Fail(ERROR_INVALID_HANDLE);
  if (Section == nullptr || Context == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const InfSection* section = inf->document.Find(Section);
  // An absent section has no line of that index either.
  if (!section || Index >= section->lines.size()) return Fail(ERROR_LINE_NOT_FOUND);
  Context->Inf = InfHandle;
  Context->CurrentInf = InfHandle;
  Context->Section = static_cast<UINT>(section - inf->document.sections.data());
  Context->Line = Index;
  return Succeed();
}

BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer, DWORD ReturnBufferSize,
                                 PDWORD RequiredSize) {
  DWORD error = 0;
  if (ConsumeFault("SetupGetStringFieldA", &error)) return Fail(error);
  if (Context == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  auto inf = LookupInf(Context->CurrentInf);
  if (!inf) return Fail(ERROR_INVALID_HANDLE);
  const InfLine* line = LineOf(*inf, *Context);
  if (!line) return Fail(ERROR_LINE_NOT_FOUND);
  const std::string* raw = nullptr;
  if (FieldIndex == 0) {
    if (line->key) raw = &*line->key;
  } else if (FieldIndex <= line->fields.size()) {
    raw = &line->fields[FieldIndex - 1];
  }
  if (!raw) return Fail(ERROR_INVALID_PARAMETER);
  std::string text = inf->document.Substitute(*raw);
  DWORD required = static_cast<DWORD>(text.size()) + 1;
  if (RequiredSize) *RequiredSize = required;
  if (ReturnBuffer == nullptr) return Succeed();  // a size query
  if (ReturnBufferSize < required) return Fail(ERROR_INSUFFICIENT_BUFFER);  // buffer left as it was
  std::memcpy(ReturnBuffer, text.c_str(), required);
  return Succeed();
}

BOOL WINAPI SetupGetInfFileListA(PCSTR DirectoryPath, DWORD InfStyle, PSTR ReturnBuffer, DWORD ReturnBufferSize,
                                 PDWORD RequiredSize) {
  DWORD error = 0;
  if (ConsumeFault("SetupGetInfFileListA", &error)) return Fail(error);
  std::string directory = DirectoryPath ? DirectoryPath : winsim::InfDirectoryPath();
  auto names = FilesOfDirectory(directory, &error);
  if (!names) return Fail(error);
  std::string list;
  for (const std::string& name : *names) {
    if (!IsInfName(name)) continue;
    InfDocument document;
    DWORD ignored = 0;
    std::string path = directory.empty() || directory.back() == '\\' ? directory + name : directory + "\\" + name;
    if (LoadInfFile(path, InfStyle, &document, &ignored, nullptr)) list += name + '\0';
  }
  list.push_back('\0');
  if (RequiredSize) *RequiredSize = static_cast<DWORD>(list.size());
  if (ReturnBuffer == nullptr) return TRUE;  // a size query, whatever size came with it
  if (ReturnBufferSize < list.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);  // buffer left as it was
  std::memcpy(ReturnBuffer, list.data(), list.size());
  return TRUE;
}

}  // extern "C"
