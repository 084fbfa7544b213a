#!/usr/bin/env bash
# Configures and builds the given presets (all six by default).
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(native native-x86 asan tsan win64 win32)
for preset in "${presets[@]}"; do
  echo "== build: ${preset}"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" --parallel 2
done
