# Signs the binaries of the tree CPack has staged (CPACK_PRE_BUILD_SCRIPTS, before the
# checksums), when the environment configures a certificate; scripts/sign-binaries.sh does the
# work and says what went wrong. A failure stops CPack before it writes the zip.
include(${CMAKE_CURRENT_LIST_DIR}/release_tree.cmake)
execute_process(
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/../../scripts/sign-binaries.sh "${DIR}" "${CPACK_RELEASE_SIGNING_DESCRIPTION}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the release's binaries could not be signed")
endif()
