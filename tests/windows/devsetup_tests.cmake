# devsetup.exe: artifact checks, and its commands against Wine's SetupAPI and driver store.
# A console program, system DLLs only, and its manifest resource (asInvoker).
add_pe_check(devsetup_exe_artifact devsetup IMPORTS "^(kernel32|setupapi|newdev|cfgmgr32|msvcrt)\\.dll$" CONSOLE
  MANIFEST asInvoker)

if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND EXISTS ${WINE64})
  # A Windows launcher that reads devsetup's exit code in full with GetExitCodeProcess.
  add_executable(wine_devsetup wine_devsetup.cpp)
  add_dependencies(wine_devsetup devsetup)
  add_wine_test(wine_devsetup ${WINE64} $<TARGET_FILE:wine_devsetup> $<TARGET_FILE:devsetup>)
  set_tests_properties(wine_devsetup PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
