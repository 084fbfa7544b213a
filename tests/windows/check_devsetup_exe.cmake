# Checks devsetup.exe: a console program, system DLLs only, and its manifest resource
# (asInvoker) beside the version resource. The version strings themselves are checked with
# every shipped binary (check_release_binary.cmake). Arguments: OBJDUMP, EXE.
include(${CMAKE_CURRENT_LIST_DIR}/pe_headers.cmake)
pe_headers(${EXE} headers)
set(failures "")

if(NOT headers MATCHES "Subsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
  string(APPEND failures "not a console-subsystem program\n")
endif()

pe_imports("${headers}" imports)
pe_expect_imports_only(imports "^(kernel32|setupapi|newdev|cfgmgr32|msvcrt)\\.dll$")

# Resource types 0x10 (RT_VERSION) and 0x18 (RT_MANIFEST), each with resource id 1.
string(REGEX MATCH "The \\.rsrc Resource Directory section:.*" resources "${headers}")
foreach(type 000010 000018)
  if(NOT resources MATCHES "Entry: ID: 0x${type}, Value: 0x[0-9a-f]+\n[^\n]*Name Table[^\n]*\n[^\n]*Entry: ID: 0x000001,")
    string(APPEND failures "no resource of type 0x${type} with id 1\n")
  endif()
endforeach()

file(STRINGS ${EXE} levels REGEX "requestedExecutionLevel")
if(NOT levels MATCHES "level=\"asInvoker\"")
  string(APPEND failures "the manifest does not request asInvoker ('${levels}')\n")
endif()

if(failures)
  message(FATAL_ERROR "${EXE}:\n${failures}")
endif()
message(STATUS "${EXE}: console program, imports ${imports}, asInvoker manifest")
