# Checks what a built Windows binary exposes to Windows: imports from system DLLs only (no
# compiler runtime DLL), and, as asked, its exports, its console subsystem and its manifest.
# Version resource, debug sections and PDB are checked with every shipped binary
# (check_release_binary.cmake).
# Arguments: OBJDUMP, BINARY, IMPORTS (a regular expression for the DLLs it may import);
# optional: EXPORTS (comma-separated; compared with ordinals when they are given, "name @1"),
# CONSOLE (ON: a console-subsystem program), MANIFEST (the execution level its manifest
# resource must request, beside the version resource).
include(${CMAKE_CURRENT_LIST_DIR}/pe_headers.cmake)
pe_headers(${BINARY} headers)
set(failures "")
set(found "")

pe_imports("${headers}" imports)
pe_expect_imports_only(imports IMPORTS)
string(APPEND found "imports ${imports}")

if(DEFINED EXPORTS)
  string(REPLACE "," ";" expected "${EXPORTS}")
  pe_exports("${headers}" exports)
  if(NOT EXPORTS MATCHES " @[0-9]+")
    list(TRANSFORM exports REPLACE " @[0-9]+$" "")
  endif()
  if(NOT "${exports}" STREQUAL "${expected}")
    string(APPEND failures "exports are '${exports}', expected '${expected}'\n")
  endif()
  string(APPEND found ", exports ${exports}")
endif()

if(CONSOLE AND NOT headers MATCHES "Subsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
  string(APPEND failures "not a console-subsystem program\n")
endif()

if(MANIFEST)
  # Resource types 0x10 (RT_VERSION) and 0x18 (RT_MANIFEST), each with resource id 1.
  string(REGEX MATCH "The \\.rsrc Resource Directory section:.*" resources "${headers}")
  foreach(type 000010 000018)
    if(NOT resources MATCHES "Entry: ID: 0x${type}, Value: 0x[0-9a-f]+\n[^\n]*Name Table[^\n]*\n[^\n]*Entry: ID: 0x000001,")
      string(APPEND failures "no resource of type 0x${type} with id 1\n")
    endif()
  endforeach()
  file(STRINGS ${BINARY} levels REGEX "requestedExecutionLevel")
  if(NOT levels MATCHES "level=\"${MANIFEST}\"")
    string(APPEND failures "the manifest does not request ${MANIFEST} ('${levels}')\n")
  endif()
  string(APPEND found ", ${MANIFEST} manifest")
endif()

if(failures)
  message(FATAL_ERROR "${BINARY}:\n${failures}")
endif()
message(STATUS "${BINARY}: ${found}")
