# The release as a vendor ships it, made from the win64 and win32 builds:
#   x64/ x86/   the binaries of each width
#   symbols/    the PDB of every binary
#   include/    the public header
#   docs/       the guides
#   README.txt, SHA256SUMS
# Everything of the release belongs to the install component "release"; ./run installs it
# through CPack (scripts/make-release.sh), which also writes the zip.
#
# ship_windows_binary(<target>) makes a target part of the release and of the artifact checks.
# Every shipped Windows binary calls it once; it does nothing in the native builds.

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(RELEASE_ARCH_DIR x64)
else()
  set(RELEASE_ARCH_DIR x86)
endif()

# Debug sections only the PDB needs are removed from the shipped binary after linking (lld
# keeps the DWARF of the static mingw runtime when it writes a PDB).
find_program(LLVM_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14)

function(ship_windows_binary target)
  if(NOT WIN32)
    return()
  endif()
  if(WINDOWS_PDB)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${LLVM_OBJCOPY} --strip-debug $<TARGET_FILE:${target}>
      VERBATIM)
    # lld writes <output name>.pdb beside the binary (--pdb= without a path).
    install(FILES $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_PREFIX:${target}>$<TARGET_FILE_BASE_NAME:${target}>.pdb
            DESTINATION symbols COMPONENT release)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${RELEASE_ARCH_DIR} COMPONENT release)
  set_property(GLOBAL APPEND PROPERTY RELEASE_BINARIES ${target})
endfunction()

if(NOT WIN32)
  return()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/client/TarrowinHiddenMIDI.h DESTINATION include COMPONENT release)
install(FILES ${PROJECT_SOURCE_DIR}/docs/host-developers.md ${PROJECT_SOURCE_DIR}/docs/package-maintainers.md
        DESTINATION docs COMPONENT release)
configure_file(${PROJECT_SOURCE_DIR}/cmake/release/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION . COMPONENT release)

# The zip: made from the 64-bit build, with the 32-bit build's tree beside it (the presets
# put them in build/win64 and build/win32).
if(RELEASE_ARCH_DIR STREQUAL "x64")
  set(RELEASE_X86_BUILD_DIR ${CMAKE_BINARY_DIR}/../win32 CACHE PATH "Build tree of the 32-bit Windows binaries")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME TarrowinHiddenMidi)
  set(CPACK_PACKAGE_VENDOR "${PACKAGE_COMPANY}")
  set(CPACK_PACKAGE_FILE_NAME TarrowinHiddenMidi-${PROJECT_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${CMAKE_BINARY_DIR};${PROJECT_NAME};release;/"
      "${RELEASE_X86_BUILD_DIR};${PROJECT_NAME};release;/")
  # On the staged files, in this order: the signatures, when the environment configures a
  # certificate (scripts/sign-binaries.sh), then the checksums, so that the zip carries both.
  set(CPACK_RELEASE_SIGNING_DESCRIPTION "${PACKAGE_PRODUCT}")
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/release/sign_binaries.cmake
                              ${PROJECT_SOURCE_DIR}/cmake/release/write_checksums.cmake)
  set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
  include(CPack)
endif()
