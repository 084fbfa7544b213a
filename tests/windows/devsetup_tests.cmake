# devsetup.exe: artifact checks, and its commands against Wine's SetupAPI and driver store.
add_test(NAME devsetup_exe_artifact
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DEXE=$<TARGET_FILE:devsetup>
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_devsetup_exe.cmake)

if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND EXISTS ${WINE64})
  # A Windows launcher that reads devsetup's exit code in full with GetExitCodeProcess.
  add_executable(wine_devsetup wine_devsetup.cpp)
  add_dependencies(wine_devsetup devsetup)
  add_test(NAME wine_devsetup
    COMMAND ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
            WINEDLLOVERRIDES=mscoree,mshtml= ${WINE64} $<TARGET_FILE:wine_devsetup> $<TARGET_FILE:devsetup>)
  set_tests_properties(wine_devsetup PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
