# How the Windows binaries are built for release: CodeView symbols in a PDB beside each binary,
# and output that depends only on the sources (no time stamps, no paths of the build machine).
# mingw g++ (the second-compiler check) writes no CodeView; it gets none of this.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  return()
endif()

set(WINDOWS_PDB ON)
add_compile_options(-g -gcodeview)
# Source and build trees appear under fixed names in objects and PDBs, wherever they are.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=
                    -fdebug-compilation-dir=.)
add_link_options(
  # <output>.pdb beside the binary; the binary names only the file, not the build path.
  -Wl,--pdb= -Wl,--Xlink=-pdbaltpath:%_PDB%
  # Time stamps and the PDB's GUID become hashes of the content.
  -Wl,--Xlink=-Brepro)
