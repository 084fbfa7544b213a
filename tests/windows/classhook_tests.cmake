# Checks of classhook.dll: the artifact itself, and its registration exports under Wine.
# The four exports by undecorated name; system DLLs only.
add_pe_check(classhook_dll_exports_imports classhook IMPORTS "^(kernel32|setupapi|advapi32|msvcrt)\\.dll$"
  EXPORTS ClassCoInstaller_Entry ClassCoInstaller_Register ClassCoInstaller_Unregister ClassCoInstaller_UnregisterOld)

if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND EXISTS ${WINE64})
  add_wine_test(wine_classhook_registration
    ${CMAKE_COMMAND} -DWINE=${WINE64} -DDLL_DIR=$<TARGET_FILE_DIR:classhook> -DOUTPUT_DIR=${CMAKE_CURRENT_BINARY_DIR}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/wine_classhook_registration.cmake)
  # Edits the prefix's registry; the other Wine tests only read it.
  set_tests_properties(wine_classhook_registration PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
