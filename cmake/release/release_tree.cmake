# Sets DIR to the release tree a release script works on, when the caller did not give one
# (cmake -DDIR=<tree> -P ...): the tree CPack has staged, for CPACK_PRE_BUILD_SCRIPTS.
if(NOT DEFINED DIR)
  set(DIR "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
  # With a top-level directory in the archive, the tree is staged one level down.
  if(CPACK_INCLUDE_TOPLEVEL_DIRECTORY AND IS_DIRECTORY "${DIR}/${CPACK_PACKAGE_FILE_NAME}")
    string(APPEND DIR "/${CPACK_PACKAGE_FILE_NAME}")
  endif()
endif()
if(NOT IS_DIRECTORY "${DIR}")
  message(FATAL_ERROR "no release tree at '${DIR}'")
endif()
