# Shared part of the second-compiler toolchains: mingw-w64 g++ for the same Windows sources
# (it writes no CodeView, so these builds have no PDBs and are not shipped).
# Expects MINGW_TRIPLE (x86_64-w64-mingw32 or i686-w64-mingw32).
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++)
