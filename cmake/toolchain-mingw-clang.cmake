# Shared part of the shipped Windows toolchains: clang and lld targeting mingw-w64, with
# mingw-w64's headers, import libraries and CRT, and the libstdc++/libgcc of the mingw g++
# installation (linked statically). clang is used because only it writes CodeView, the debug
# format Windows debuggers read; lld turns that into a PDB.
# Expects MINGW_TRIPLE (x86_64-w64-mingw32 or i686-w64-mingw32).
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})

# clang does not recognise Debian's versioned directory (lib/gcc/<triple>/12-win32); ask the
# mingw g++ driver where its runtime lives and name the C++ headers and libraries explicitly.
execute_process(COMMAND ${MINGW_TRIPLE}-g++ -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS "${libgcc}")
  message(FATAL_ERROR "${MINGW_TRIPLE}-g++ not found: it provides libstdc++ for the Windows builds")
endif()
get_filename_component(MINGW_GCC_DIR "${libgcc}" DIRECTORY)
set(cxx_headers "${MINGW_GCC_DIR}/include/c++")
string(JOIN " " cxx_include_flags
  "-stdlib++-isystem ${cxx_headers}"
  "-stdlib++-isystem ${cxx_headers}/${MINGW_TRIPLE}"
  "-stdlib++-isystem ${cxx_headers}/backward")
set(CMAKE_CXX_FLAGS_INIT "${cxx_include_flags}")
set(link_init "-fuse-ld=lld -L${MINGW_GCC_DIR}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_init}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_init}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${link_init}")
