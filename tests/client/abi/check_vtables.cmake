# Dumps the virtual table layouts a compiler gives the public interfaces and compares them
# with the expected slot tables. Arguments: CLANG, TARGET, FLAGS (;-list), SOURCE, INCLUDE, EXPECTED.
execute_process(
  COMMAND ${CLANG} --target=${TARGET} ${FLAGS} -I${INCLUDE} -Xclang -fdump-vtable-layouts -S -o ${DEVNULL} ${SOURCE}
  OUTPUT_VARIABLE dump
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${CLANG} --target=${TARGET} failed:\n${errors}")
endif()
file(READ ${EXPECTED} expected)
if(NOT dump STREQUAL expected)
  message(FATAL_ERROR "Virtual table layouts for ${TARGET} differ from ${EXPECTED}; the compiler printed:\n${dump}")
endif()
message(STATUS "${TARGET}: virtual table layouts as expected")
