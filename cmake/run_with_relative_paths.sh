#!/usr/bin/env bash
# Compiler and linker launcher of the Windows release builds. clang records its whole command
# line in each object's CodeView build record, and lld copies that into the PDB, so every path
# on the command line ends up in what ships. CMake passes the source tree as an absolute path;
# this rewrites it relative to the build tree (where the command runs) and runs the command.
# The search-path variables of the Linux toolchains are dropped too: they name no Windows
# directory, and the linker would record them.
# Usage: run_with_relative_paths.sh <source dir> <source dir relative to build dir> command...
set -euo pipefail
unset LIBRARY_PATH CPATH C_INCLUDE_PATH CPLUS_INCLUDE_PATH
absolute=$1
relative=$2
shift 2
args=()
for arg in "$@"; do
  args+=("${arg//"${absolute}"/"${relative}"}")
done
exec "${args[@]}"
