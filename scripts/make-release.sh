#!/usr/bin/env bash
# Makes the release from the built win64 and win32 trees: the zip through CPack, and dist/
# holding exactly what the zip holds, with the zip beside it. When the environment configures a
# certificate (RELEASE_SIGNING_PKCS12 and RELEASE_SIGNING_PASSWORD_FILE, see
# scripts/sign-binaries.sh), CPack signs the binaries before it writes SHA256SUMS and the zip.
# Everything is made in a folder of its own and replaces dist/ only when all of it succeeded:
# a failure leaves dist/ as it was.
# Usage: make-release.sh [<release dir> [<win64 build tree>]]   (default: dist build/win64;
# relative paths are taken from the repository root)
set -euo pipefail
cd "$(dirname "$0")/.."
release=${1:-dist}
build=${2:-build/win64}

if [ ! -f "${build}/CPackConfig.cmake" ]; then
  echo "make-release: ${build} is not configured: build the win64 and win32 presets first" >&2
  exit 1
fi
work=$(realpath "$(mktemp -d "${build}/release.XXXXXX")")
trap 'rm -rf "${work}"' EXIT
if ! cpack --config "${build}/CPackConfig.cmake" -B "${work}/package" >/dev/null; then
  echo "make-release: no release was made; ${release}/ is left as it was" >&2
  exit 1
fi
zip=$(ls "${work}"/package/TarrowinHiddenMidi-*-windows.zip)
name=$(basename "${zip}" .zip)
(cd "${work}" && cmake -E tar xf "${zip}")
cp "${zip}" "${work}/${name}/"
(cd "${work}/${name}" && sha256sum --quiet -c SHA256SUMS)

# Every binary of the release has its PDB in symbols/.
for binary in "${work}/${name}"/x64/* "${work}/${name}"/x86/*; do
  binary_name=$(basename "${binary}")
  if [ ! -f "${work}/${name}/symbols/${binary_name%.*}.pdb" ]; then
    echo "make-release: ${binary_name} has no PDB in symbols/" >&2
    exit 1
  fi
done

rm -rf "${release}"
mv "${work}/${name}" "${release}"
if [ -n "${RELEASE_SIGNING_PKCS12:-}" ]; then
  echo "make-release: the binaries of x64/ and x86/ are signed with ${RELEASE_SIGNING_PKCS12}"
else
  echo "make-release: the release is unsigned (no RELEASE_SIGNING_PKCS12; see README.md, Signing)"
fi
