#!/usr/bin/env bash
# Two clean builds of the same sources must give byte-identical release files (binaries, PDBs
# and the rest of the install component "release"). The two builds use different source and
# build directories, so that a path of the build machine in any output shows as a difference.
# Usage: check_reproducible.sh <source dir> <work dir> <toolchain file name in cmake/>
set -euo pipefail
source_dir=$1
work=$2
toolchain=$3

rm -rf "${work}"
build() {
  local tree=$1
  mkdir -p "${tree}/src"
  tar -C "${source_dir}" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "${tree}/src" -xf -
  cmake -S "${tree}/src" -B "${tree}/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_TOOLCHAIN_FILE="${tree}/src/cmake/${toolchain}" >/dev/null
  nice cmake --build "${tree}/build" --parallel 2 >/dev/null
  cmake --install "${tree}/build" --component release --prefix "${tree}/release" >/dev/null
}
build "${work}/first"
# The second build also runs in another environment: time zone, locale, library search path.
TZ=Pacific/Kiritimati LC_ALL=C LIBRARY_PATH=/usr/lib/elsewhere build "${work}/second-tree-with-a-longer-name"

first=${work}/first/release
second=${work}/second-tree-with-a-longer-name/release
status=0
diff -rq "${first}" "${second}" || status=1
count=0
while IFS= read -r -d '' file; do
  relative=${file#"${first}/"}
  count=$((count + 1))
  if ! cmp -s "${file}" "${second}/${relative}"; then
    echo "differs: ${relative} ($(cmp "${file}" "${second}/${relative}" | head -1))"
    status=1
  fi
done < <(find "${first}" -type f -print0)
binaries=$(find "${first}" -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.pdb' \) | wc -l)
if [ "${binaries}" -eq 0 ]; then
  echo "no binaries or PDBs were built"
  status=1
fi
[ ${status} -eq 0 ] && echo "${count} release files (${binaries} binaries and PDBs) byte-identical across two clean builds"
[ ${status} -eq 0 ] && rm -rf "${work}"
exit ${status}
