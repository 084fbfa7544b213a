# Writes SHA256SUMS into the root of a release tree: one line per file, "<sha256>  <path>",
# sorted by path, in the format `sha256sum -c` reads. Run by CPack on its staging tree
# (CPACK_PRE_BUILD_SCRIPTS), or as `cmake -DDIR=<tree> -P write_checksums.cmake`.
include(${CMAKE_CURRENT_LIST_DIR}/release_tree.cmake)

file(REMOVE "${DIR}/SHA256SUMS")
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${DIR}" "${DIR}/*")
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 "${DIR}/${file}" hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE "${DIR}/SHA256SUMS" "${sums}")
list(LENGTH files count)
message(STATUS "SHA256SUMS: ${count} files")
