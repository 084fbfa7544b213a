# What the artifact checks read from a PE file's headers (the mingw objdump's -p dump), shared
# by the per-binary checks. Each check collects its findings in a `failures` string.

# Runs a command and returns its standard output; a command that fails ends the check.
function(pe_run out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed: ${errors}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The headers of FILE as OBJDUMP prints them.
function(pe_headers file out)
  pe_run(headers ${OBJDUMP} -p ${file})
  set(${out} "${headers}" PARENT_SCOPE)
endfunction()

# The exports as "name @ordinal", in the table's order. lld starts the table at base 0 with an
# empty slot 0, other linkers at base 1; the ordinals a caller resolves are the same.
function(pe_exports headers out)
  string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)\n" _ "${headers}")
  set(base "${CMAKE_MATCH_1}")
  if(base STREQUAL "")
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" names "${headers}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${names}")
  set(exports "")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" _ "${entry}")
    math(EXPR ordinal "${base} + ${CMAKE_MATCH_1}")
    list(APPEND exports "${CMAKE_MATCH_2} @${ordinal}")
  endforeach()
  set(${out} "${exports}" PARENT_SCOPE)
endfunction()

# The imported DLL names, lower case.
function(pe_imports headers out)
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${headers}")
  set(imports "")
  foreach(line IN LISTS lines)
    string(REPLACE "DLL Name: " "" name "${line}")
    string(TOLOWER "${name}" name)
    list(APPEND imports "${name}")
  endforeach()
  set(${out} "${imports}" PARENT_SCOPE)
endfunction()

# Appends to `failures` when the binary imports nothing or a DLL that the regular expression in
# the variable ALLOWED does not match: a shipped binary may rely only on what every Windows has.
# (A variable, not the expression itself: a macro would read its backslashes as escapes.)
macro(pe_expect_imports_only imports allowed)
  if(NOT ${imports})
    string(APPEND failures "no import table found\n")
  endif()
  foreach(pe_import IN LISTS ${imports})
    if(pe_import MATCHES "^(libstdc\\+\\+|libgcc_s|libwinpthread)")
      string(APPEND failures "imports the MinGW runtime DLL ${pe_import}\n")
    elseif(NOT pe_import MATCHES "${${allowed}}")
      string(APPEND failures "imports ${pe_import}, which is not one of the system DLLs it may use\n")
    endif()
  endforeach()
endmacro()
