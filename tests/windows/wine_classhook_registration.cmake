# The registration exports of classhook.dll through Wine's own rundll32.exe and registry,
# read back with Wine's reg.exe. (The entry point is tested on the simulated platform only:
# Wine 8 lacks SetupDiGetDriverInstallParamsA, which aborts the process.)
# Arguments: WINE, DLL_DIR, OUTPUT_DIR (for the output of each Wine program); Wine's
# environment is the test's.
cmake_policy(SET CMP0007 NEW)
set(key "HKLM\\SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers")
set(own "classhook.dll,ClassCoInstaller_Entry")
set(failures "")

# Output goes through a file: Wine's server and services inherit the output handles and
# outlive the program, so reading a pipe to its end would wait for them.
set(output ${OUTPUT_DIR}/classhook_reg_output.txt)
function(wine)
  execute_process(COMMAND ${WINE} ${ARGN} WORKING_DIRECTORY ${DLL_DIR}
                  OUTPUT_FILE ${output} ERROR_FILE /dev/null RESULT_VARIABLE rc)
  file(READ ${output} out)
  set(wine_out "${out}" PARENT_SCOPE)
  set(wine_rc "${rc}" PARENT_SCOPE)
endfunction()

# The value as reg.exe shows it (entries joined by \0), or <absent>.
function(read_value name result)
  wine(reg query "${key}" /v "${name}")
  set(value "<absent>")
  if(wine_rc EQUAL 0 AND wine_out MATCHES "REG_MULTI_SZ    ([^\r\n]*)")
    set(value "${CMAKE_MATCH_1}")
  elseif(wine_rc EQUAL 0)
    set(value "<not a list: ${wine_out}>")
  endif()
  set(${result} "${value}" PARENT_SCOPE)
endfunction()

# One case: the value before (<absent> for none), the export and command line, the value after.
function(check title name before export cmdline expected)
  wine(reg delete "${key}" /v "${name}" /f)
  if(NOT before STREQUAL "<absent>")
    wine(reg add "${key}" /v "${name}" /t REG_MULTI_SZ /d "${before}" /f)
  endif()
  wine(rundll32.exe "classhook.dll,ClassCoInstaller_${export}" "${cmdline}")
  read_value("${name}" after)
  wine(reg delete "${key}" /v "${name}" /f)
  if(NOT after STREQUAL expected)
    string(APPEND failures "${title}: value is '${after}', expected '${expected}'\n")
    set(failures "${failures}" PARENT_SCOPE)
  else()
    message(STATUS "ok: ${title}")
  endif()
endfunction()

# Wine's registry has no class co-installer key; Windows has one.
wine(reg add "${key}" /f)

set(g "{4d36e96c-e325-11ce-bfc1-08002be10318}")
check("register into a missing value" "${g}" "<absent>" Register "${g}" "${own}")
check("register twice leaves one entry" "${g}" "${own}" Register "${g}" "${own}")
check("register appends after another co-installer" "${g}" "other.dll,OtherEntry" Register "${g}"
      "other.dll,OtherEntry\\0${own}")
check("unregister of the only entry deletes the value" "${g}" "${own}" Unregister "${g}" "<absent>")
check("unregister keeps another entry" "${g}" "other.dll,X\\0${own}\\0last.dll,Y" Unregister "${g}"
      "other.dll,X\\0last.dll,Y")
check("unregister removes the first 8-character match and its copies only" "${g}"
      "classhoo_v1.dll,E\\0${own}\\0classhoo_v1.dll,E" Unregister "${g}" "${own}")
check("UnregisterOld in capitals" "${g}" "TAWUSBAUDIO_COINST.DLL,CoInstallerEntry\\0other.dll,X" UnregisterOld
      "${g}" "other.dll,X")
check("UnregisterOld with another suffix" "${g}" "tawusbau_v2.dll,Entry" UnregisterOld "${g}" "<absent>")
check("a GUID without braces changes nothing" "4d36e96c-e325-11ce-bfc1-08002be10318" "<absent>" Register
      "4d36e96c-e325-11ce-bfc1-08002be10318" "<absent>")
check("a closing brace before the opening one changes nothing" "}${g}" "${own}" Unregister "}${g}" "${own}")
string(REPEAT "a" 1100 long)
check("a value over 1024 bytes is left unchanged" "${g}" "${long}.dll,E" Register "${g}" "${long}.dll,E")

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
