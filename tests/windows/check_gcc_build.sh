#!/usr/bin/env bash
# The second compiler: the Windows sources must build warning-free (warnings are errors) with
# mingw g++ as well as with the clang that makes the release.
# Usage: check_gcc_build.sh <source dir> <build dir> <toolchain file>
set -euo pipefail
source_dir=$1
build=$2
toolchain=$3
rm -rf "${build}"
if ! { cmake -S "${source_dir}" -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
             -DCMAKE_TOOLCHAIN_FILE="${toolchain}" && nice cmake --build "${build}" --parallel 2; } >"${build}.log" 2>&1; then
  cat "${build}.log"
  exit 1
fi
echo "built with $(grep -m1 -o 'CXX compiler identification is .*' "${build}.log" || echo g++): $(ls "${build}/bin")"
rm -rf "${build}" "${build}.log"
