#!/usr/bin/env bash
# Makes the release from the built win64 and win32 trees: the zip through CPack, and dist/
# holding exactly what the zip holds, with the zip beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

cpack --config build/win64/CPackConfig.cmake >/dev/null
zip=$(ls build/win64/package/TarrowinHiddenMidi-*-windows.zip)
name=$(basename "${zip}" .zip)

rm -rf dist build/release-unpack
mkdir -p build/release-unpack
(cd build/release-unpack && cmake -E tar xf "../../${zip}")
mv "build/release-unpack/${name}" dist
rmdir build/release-unpack
cp "${zip}" dist/
(cd dist && sha256sum --quiet -c SHA256SUMS)

# Every binary of the release has its PDB in symbols/.
for binary in dist/x64/* dist/x86/*; do
  name=$(basename "${binary}")
  if [ ! -f "dist/symbols/${name%.*}.pdb" ]; then
    echo "make-release: ${name} has no PDB in symbols/" >&2
    exit 1
  fi
done
