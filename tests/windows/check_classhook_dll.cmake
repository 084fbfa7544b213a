# Checks the built co-installer: the four exports by undecorated name and imports from system
# DLLs only (no compiler runtime DLL). Its version resource is checked with every shipped
# binary (check_release_binary.cmake). Arguments: OBJDUMP, DLL.
include(${CMAKE_CURRENT_LIST_DIR}/pe_headers.cmake)
pe_headers(${DLL} headers)
set(failures "")

pe_exports("${headers}" exports)
list(TRANSFORM exports REPLACE " @[0-9]+$" "")
set(expected "ClassCoInstaller_Entry;ClassCoInstaller_Register;ClassCoInstaller_Unregister;ClassCoInstaller_UnregisterOld")
if(NOT "${exports}" STREQUAL "${expected}")
  string(APPEND failures "exports are '${exports}', expected '${expected}'\n")
endif()

pe_imports("${headers}" imports)
pe_expect_imports_only(imports "^(kernel32|setupapi|advapi32|msvcrt)\\.dll$")

if(failures)
  message(FATAL_ERROR "${DLL}:\n${failures}")
endif()
message(STATUS "${DLL}: exports and imports as expected (${imports})")
