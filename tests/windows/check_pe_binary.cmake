# Checks a built client DLL: the three exports by name and ordinal (undecorated), and imports
# from system DLLs only: no ksuser.dll (loaded at run time), no MinGW runtime DLL.
# Arguments: OBJDUMP, DLL.
include(${CMAKE_CURRENT_LIST_DIR}/pe_headers.cmake)
pe_headers(${DLL} headers)
set(failures "")

pe_exports("${headers}" exports)
set(expected "VODICreate @1;VODIDestroy @2;VODIGetVersion @3")
if(NOT "${exports}" STREQUAL "${expected}")
  string(APPEND failures "exports are '${exports}', expected '${expected}'\n")
endif()

pe_imports("${headers}" imports)
pe_expect_imports_only(imports "^(kernel32|user32|advapi32|setupapi|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\\.dll$")

if(failures)
  message(FATAL_ERROR "${DLL}:\n${failures}")
endif()
message(STATUS "${DLL}: exports and imports as expected (${imports})")
