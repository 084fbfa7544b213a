# The second-compiler check, 32-bit: mingw-w64 g++ for i686-w64-mingw32.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-gcc.cmake)
