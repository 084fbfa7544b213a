# The second-compiler check, 64-bit: mingw-w64 g++ for x86_64-w64-mingw32.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-gcc.cmake)
