# Checks of classhook.dll: the artifact itself, and its registration exports under Wine.
add_test(NAME classhook_dll_exports_imports
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DDLL=$<TARGET_FILE:classhook>
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_classhook_dll.cmake)

if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND EXISTS ${WINE64})
  add_test(NAME wine_classhook_registration
    COMMAND ${CMAKE_COMMAND} -DWINE=${WINE64} -DWINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
            -DDLL_DIR=$<TARGET_FILE_DIR:classhook> -DOUTPUT_DIR=${CMAKE_CURRENT_BINARY_DIR}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/wine_classhook_registration.cmake)
  # Edits the prefix's registry; the other Wine tests only read it.
  set_tests_properties(wine_classhook_registration PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
