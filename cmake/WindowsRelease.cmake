# How the Windows binaries are built for release: CodeView symbols in a PDB beside each binary,
# and output that depends only on the sources (no time stamps, no paths of the build machine).
# mingw g++ (the second-compiler check) writes no CodeView; it gets none of this.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  return()
endif()
set(WINDOWS_PDB ON)

add_compile_options(-g -gcodeview)

# Paths: the compiler and the linker see the source tree only as a path relative to the build
# tree; source files appear in objects as "client/exports.cpp" and in the PDB under a fixed
# root, and the compilation directory is ".".
file(RELATIVE_PATH source_from_build ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
string(REGEX REPLACE "/$" "" source_from_build "${source_from_build}")
set(launcher ${CMAKE_CURRENT_LIST_DIR}/run_with_relative_paths.sh ${CMAKE_SOURCE_DIR} ${source_from_build})
set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
set(CMAKE_C_LINKER_LAUNCHER ${launcher})
set(CMAKE_CXX_LINKER_LAUNCHER ${launcher})
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-compilation-dir=.)
set(PDB_SOURCE_ROOT "C:\\TarrowinHiddenMidi" CACHE STRING "Root under which the PDBs name source files")

add_link_options(
  # <output>.pdb beside the binary; the binary names only the file, not the build path.
  -Wl,--pdb= -Wl,--Xlink=-pdbaltpath:%_PDB%
  -Wl,--Xlink=-pdbsourcepath:${PDB_SOURCE_ROOT}
  # Time stamps and the PDB's GUID become hashes of the content.
  -Wl,--Xlink=-Brepro
  # Code nothing refers to is left out, as in any release link.
  -Wl,--gc-sections)
