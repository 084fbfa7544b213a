# The shipped 64-bit Windows build: clang and lld for x86_64-w64-mingw32.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-clang.cmake)
