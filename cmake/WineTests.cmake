# Tests that run Windows programs under Wine. Wine runs 64-bit Windows programs only.
set(WINE64 /usr/lib/wine/wine64)

# add_wine_test(<name> <command>...): a test whose command (or what it starts) runs Wine in a
# prefix of its own inside the build tree, with no debug output and no Mono or Gecko prompt on
# the prefix's first start.
function(add_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "WINEDEBUG=-all;WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDLLOVERRIDES=mscoree,mshtml=")
endfunction()
