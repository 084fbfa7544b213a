# Checks a built client DLL with the mingw objdump: the three exports by name and ordinal
# (undecorated), and imports from system DLLs only: no ksuser.dll, no MinGW runtime DLL.
# Arguments: OBJDUMP, DLL.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

set(failures "")

# Export table: the names with their ordinals (ordinal base plus the index objdump lists).
# lld starts the table at base 0 with an empty slot 0, other linkers at base 1; the ordinals a
# host resolves are the same.
string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)\n" _ "${headers}")
set(base "${CMAKE_MATCH_1}")
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" names "${headers}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${names}")
set(exports "")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" _ "${entry}")
  math(EXPR ordinal "${base} + ${CMAKE_MATCH_1}")
  list(APPEND exports "${CMAKE_MATCH_2} @${ordinal}")
endforeach()
set(expected "VODICreate @1;VODIDestroy @2;VODIGetVersion @3")
if(base STREQUAL "" OR NOT "${exports}" STREQUAL "${expected}")
  string(APPEND failures "exports are '${exports}' (ordinal base '${base}'), expected '${expected}'\n")
endif()

# Imports: only DLLs every Windows installation has.
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
set(allowed "^(kernel32|user32|advapi32|setupapi|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\\.dll$")
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(TOLOWER "${name}" name)
  if(name STREQUAL "ksuser.dll")
    string(APPEND failures "imports ksuser.dll, which must be loaded at run time\n")
  elseif(name MATCHES "^(libstdc\\+\\+|libgcc_s|libwinpthread)")
    string(APPEND failures "imports the MinGW runtime DLL ${name}\n")
  elseif(NOT name MATCHES "${allowed}")
    string(APPEND failures "imports ${name}, which is not a system DLL\n")
  endif()
endforeach()
if(NOT imports)
  string(APPEND failures "no import table found\n")
endif()

if(failures)
  message(FATAL_ERROR "${DLL}:\n${failures}")
endif()
message(STATUS "${DLL}: exports and imports as expected (${imports})")
