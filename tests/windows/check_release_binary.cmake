# Checks one shipped Windows binary as a vendor ships it:
#  - its version resource carries the package version (fixed part and strings), its own file
#    name as original file name, and the company, product and copyright lines;
#  - no debug section and no symbol table are left in it;
#  - its PDB (PDB) is the one it names: same file name, GUID and age; and, when it exports
#    functions, each export's address resolves through the PDB to that function and a line.
# Arguments: BINARY, PDB, VERSION (major.minor.patch), COMPANY, PRODUCT, COPYRIGHT, OBJDUMP,
# READOBJ, PDBUTIL, SYMBOLIZER.
set(failures "")
include(${CMAKE_CURRENT_LIST_DIR}/pe_headers.cmake)
get_filename_component(binary_name "${BINARY}" NAME)

# Hex text of a string as the resource holds it: UTF-16LE, ASCII only.
function(utf16_hex text out)
  set(hex "")
  string(LENGTH "${text}" length)
  math(EXPR last "${length} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${text}" ${i} 1 char)
    string(HEX "${char}" code)
    string(APPEND hex "${code}00")
  endforeach()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# A 32-bit value as little-endian hex.
function(dword_hex value out)
  math(EXPR b0 "${value} & 255" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR b1 "(${value} >> 8) & 255" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR b2 "(${value} >> 16) & 255" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR b3 "(${value} >> 24) & 255" OUTPUT_FORMAT HEXADECIMAL)
  set(hex "")
  foreach(byte ${b0} ${b1} ${b2} ${b3})
    string(REPLACE "0x" "" byte "${byte}")
    string(LENGTH "${byte}" n)
    if(n EQUAL 1)
      set(byte "0${byte}")
    endif()
    string(APPEND hex "${byte}")
  endforeach()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# --- version resource -------------------------------------------------------------------
pe_run(resources ${READOBJ} --coff-resources "${BINARY}")
if(NOT resources MATCHES "Type: VERSIONINFO \\(ID 16\\)")
  string(APPEND failures "no VERSIONINFO resource\n")
endif()
# The resource bytes as one lower-case hex string, from the dump's "0000: 28033400 ..." lines.
string(REGEX MATCHALL "\n *[0-9A-F]+: ([0-9A-F ]+)\\|" rows "${resources}")
set(data "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\n *[0-9A-F]+: " "" row "${row}")
  string(REGEX REPLACE "[ |]" "" row "${row}")
  string(APPEND data "${row}")
endforeach()
string(TOLOWER "${data}" data)

string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
math(EXPR version_ms "(${major} << 16) | ${minor}")
math(EXPR version_ls "${patch} << 16")
dword_hex(${version_ms} ms)
dword_hex(${version_ls} ls)
# VS_FIXEDFILEINFO: signature 0xFEEF04BD, structure version 1.0, file version, product version.
set(fixed "bd04effe00000100${ms}${ls}${ms}${ls}")
if(NOT data MATCHES "${fixed}")
  string(APPEND failures "fixed file and product version are not ${VERSION}.0\n")
endif()

# Each string value: its key, the key's NUL, padding to 32 bits, the value and its NUL.
foreach(entry "FileVersion=${VERSION}" "ProductVersion=${VERSION}" "OriginalFilename=${binary_name}"
              "CompanyName=${COMPANY}" "ProductName=${PRODUCT}" "LegalCopyright=${COPYRIGHT}")
  string(FIND "${entry}" "=" eq)
  string(SUBSTRING "${entry}" 0 ${eq} key)
  math(EXPR start "${eq} + 1")
  string(SUBSTRING "${entry}" ${start} -1 value)
  utf16_hex("${key}" key_hex)
  utf16_hex("${value}" value_hex)
  string(TOLOWER "${key_hex}0000(0000)?${value_hex}0000" pattern)
  if(NOT data MATCHES "${pattern}")
    string(APPEND failures "version string ${key} is not '${value}'\n")
  endif()
endforeach()
utf16_hex("FileDescription" key_hex)
string(TOLOWER "${key_hex}0000(0000)?([0-9a-f][1-9a-f]|[1-9a-f]0)00" pattern)
if(NOT data MATCHES "${pattern}")
  string(APPEND failures "version string FileDescription is empty\n")
endif()

# --- no debug sections, no symbol table ---------------------------------------------------
pe_run(sections ${OBJDUMP} -h "${BINARY}")
string(REGEX MATCHALL "\\.debug[^ \n]*" debug_sections "${sections}")
if(debug_sections)
  string(APPEND failures "debug sections left in the binary: ${debug_sections}\n")
endif()
pe_run(headers ${READOBJ} --file-headers "${BINARY}")
if(NOT headers MATCHES "SymbolCount: 0\n")
  string(APPEND failures "a COFF symbol table is left in the binary\n")
endif()

# --- the PDB belongs to the binary --------------------------------------------------------
pe_run(debug_directory ${READOBJ} --coff-debug-directory "${BINARY}")
string(REGEX MATCH "PDBGUID: \\(([0-9A-F ]+)\\)" _ "${debug_directory}")
string(REPLACE " " "" binary_guid "${CMAKE_MATCH_1}")
string(REGEX MATCH "PDBAge: ([0-9]+)" _ "${debug_directory}")
set(binary_age "${CMAKE_MATCH_1}")
string(REGEX MATCH "PDBFileName: ([^\n]*)" _ "${debug_directory}")
set(binary_pdb_name "${CMAKE_MATCH_1}")
get_filename_component(pdb_name "${PDB}" NAME)
if(NOT binary_pdb_name STREQUAL pdb_name)
  string(APPEND failures "the binary names its PDB '${binary_pdb_name}', expected '${pdb_name}' without a path\n")
endif()

pe_run(summary ${PDBUTIL} dump -summary "${PDB}")
string(REGEX MATCH "GUID: {([0-9A-F-]+)}" _ "${summary}")
# The PDB prints the GUID as a GUID; the binary holds its bytes: the first three fields are
# little-endian.
string(REPLACE "-" ";" fields "${CMAKE_MATCH_1}")
set(pdb_guid "")
set(index 0)
foreach(field IN LISTS fields)
  if(index LESS 3)
    string(REGEX MATCHALL ".." bytes "${field}")
    list(REVERSE bytes)
    string(JOIN "" field ${bytes})
  endif()
  string(APPEND pdb_guid "${field}")
  math(EXPR index "${index} + 1")
endforeach()
string(REGEX MATCH "Age: ([0-9]+)" _ "${summary}")
set(pdb_age "${CMAKE_MATCH_1}")
if(binary_guid STREQUAL "" OR NOT binary_guid STREQUAL pdb_guid OR NOT binary_age STREQUAL pdb_age)
  string(APPEND failures "PDB does not match: binary GUID ${binary_guid} age ${binary_age}, PDB GUID ${pdb_guid} age ${pdb_age}\n")
endif()

# --- addresses resolve to functions and lines ----------------------------------------------
pe_run(exports ${READOBJ} --coff-exports "${BINARY}")
string(REGEX MATCHALL "Name: [A-Za-z_][A-Za-z0-9_@]*\n *RVA: 0x[0-9A-F]+" named "${exports}")
foreach(export IN LISTS named)
  string(REGEX MATCH "Name: ([^\n]+)\n *RVA: (0x[0-9A-F]+)" _ "${export}")
  set(name "${CMAKE_MATCH_1}")
  # One byte into the function: an address inside it, as a crash address would be.
  math(EXPR address "${CMAKE_MATCH_2} + 1" OUTPUT_FORMAT HEXADECIMAL)
  # The symbolizer finds the PDB by the name the binary gives, beside the binary.
  pe_run(symbol ${SYMBOLIZER} --obj=${BINARY} --relative-address --functions=linkage ${address})
  if(NOT symbol MATCHES "^${name}\n[^\n]+\\.cpp:[1-9][0-9]*:")
    string(APPEND failures "export ${name} (+1 at ${address}) resolves to '${symbol}'\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${BINARY}:\n${failures}")
endif()
list(LENGTH named export_count)
message(STATUS "${binary_name}: version ${VERSION}, no debug sections, ${pdb_name} matches (GUID ${binary_guid}, age ${binary_age}), ${export_count} export(s) resolve")
