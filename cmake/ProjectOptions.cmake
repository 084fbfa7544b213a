# Compiler options shared by every target of every preset: warnings are errors everywhere.
add_compile_options(-Wall -Wextra -Werror -Wno-unknown-pragmas)
# Assertions report their source as "ks/irptgt.cpp", not as a path of the build machine.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)

if(WIN32)
  # Windows deliverables carry their compiler runtime: no libstdc++, libgcc or winpthread DLL.
  add_link_options(-static -static-libgcc -static-libstdc++)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsRelease.cmake)
endif()

set(SANITIZER "" CACHE STRING "Sanitizer build: address or thread")
if(SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# How native test programs are started: 32-bit Linux programs run under qemu-i386 here.
set(TEST_LAUNCHER "" CACHE STRING "Command list that runs a native test program")

# The repository root is the include root: sources include "ks/...", "platform/...".
include_directories(${PROJECT_SOURCE_DIR})
