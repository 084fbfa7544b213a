#!/usr/bin/env bash
# The signed release, with a throwaway self-signed code-signing certificate made here (no
# network, no timestamp server): make-release signs every binary of x64/ and x86/ before it
# writes SHA256SUMS and the zip; each signature validates against that certificate and is the
# only one; the signed binaries pass the artifact checks and portlink64.dll still works under
# Wine; under the signature are the unsigned bytes; a second signing run re-signs; a bad
# configuration fails the release with its reason and leaves the release directory as it was.
# Usage: check_signed_release.sh <source dir> <work dir> <win64 build tree> <product name>
#          <wine64> <Wine client host .exe> -- <-D arguments of check_release_binary.cmake>
# Wine runs in the environment's WINEPREFIX.
set -euo pipefail
source_dir=$1
work=$2
build=$3
product=$4
wine64=$5
wine_host=$6
shift 7
artifact_check_args=("$@")

url=https://vendor.example/midi
status=0
failed() {
  echo "FAILED: $*"
  status=1
}

# Every run sees only the signing settings it is given, not the caller's.
unset RELEASE_SIGNING_PKCS12 RELEASE_SIGNING_PASSWORD_FILE RELEASE_SIGNING_URL RELEASE_SIGNING_TIMESTAMP_URL
make_release() { # <release dir> [VARIABLE=value...]
  local release=$1
  shift
  env "$@" "${source_dir}/scripts/make-release.sh" "${release}" "${build}"
}

rm -rf "${work}"
mkdir -p "${work}/keys"
# --- the throwaway certificate: key and password readable by this user only -------------------
(
  umask 077
  cd "${work}/keys"
  printf 'throwaway password\n' >password
  printf 'not the password\n' >wrong-password
  cp password export-password # openssl reads -passin and -passout from one file as two lines
  openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -subj "/CN=Throwaway Code Signing" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=critical,digitalSignature" \
    -keyout key.pem -out certificate.pem -passout file:password 2>/dev/null
  openssl pkcs12 -export -inkey key.pem -in certificate.pem -out certificate.p12 \
    -passin file:password -passout file:export-password
)
keys=${work}/keys
signing=(RELEASE_SIGNING_PKCS12="${keys}/certificate.p12" RELEASE_SIGNING_PASSWORD_FILE="${keys}/password")

# --- unsigned and signed releases ------------------------------------------------------------
unsigned=${work}/unsigned
signed=${work}/signed
output=$(make_release "${unsigned}")
if [ "$(printf '%s\n' "${output}" | grep -c .)" -ne 1 ] || [[ "${output}" != *"release is unsigned"* ]]; then
  failed "without a certificate make-release says '${output}', expected one line saying the release is unsigned"
fi
if ! make_release "${signed}" "${signing[@]}" RELEASE_SIGNING_URL="${url}" >/dev/null; then
  echo "FAILED: make-release with the throwaway certificate"
  exit 1
fi

mapfile -t binaries < <(cd "${unsigned}" && ls x64/* x86/*)
[ ${#binaries[@]} -gt 0 ] || failed "the release has no binaries"

# The only signature, by the throwaway certificate, over SHA-256, with the package's values.
check_signature() { # <file> <what>
  local report
  if ! report=$(osslsigncode verify -CAfile "${keys}/certificate.pem" -in "$1" 2>&1); then
    failed "$2: does not verify against the certificate: ${report}"
    return
  fi
  local count
  count=$(grep -c '^Signature Index:' <<<"${report}" || true)
  [ "${count}" -eq 1 ] || failed "$2: ${count} signatures, expected exactly one"
  grep -q '^Number of verified signatures: 1$' <<<"${report}" || failed "$2: not exactly one verified signature"
  grep -q '^Message digest algorithm *: SHA256' <<<"${report}" || failed "$2: the digest is not SHA-256"
  grep -q "Text description: ${product}$" <<<"${report}" || failed "$2: the description is not '${product}'"
  grep -q "URL description: ${url}$" <<<"${report}" || failed "$2: the URL is not '${url}'"
}

# Without its signature the file is the unsigned binary, but for the PE checksum, which
# osslsigncode recomputes when it removes the signature (the linker leaves it 0).
check_unsigned_bytes_underneath() { # <signed file> <unsigned file> <what>
  local stripped=${work}/stripped.bin
  rm -f "${stripped}"
  if ! osslsigncode remove-signature -in "$1" -out "${stripped}" >/dev/null 2>&1; then
    failed "$3: the signature cannot be removed"
    return
  fi
  local pe_offset checksum_first differing
  pe_offset=$(od -An -tu4 -j60 -N4 "$2" | tr -d ' ')
  checksum_first=$((pe_offset + 88 + 1)) # cmp counts bytes from 1
  differing=$(cmp -l "${stripped}" "$2" 2>&1 |
    awk -v first="${checksum_first}" '!($1 >= first && $1 < first + 4)' || true)
  [ -z "${differing}" ] || failed "$3: without its signature it is not the unsigned binary: ${differing:0:300}"
}

for binary in "${binaries[@]}"; do
  osslsigncode verify -in "${unsigned}/${binary}" >/dev/null 2>&1 && failed "unsigned ${binary}: carries a signature"
  check_signature "${signed}/${binary}" "${binary}"
  check_unsigned_bytes_underneath "${signed}/${binary}" "${unsigned}/${binary}" "${binary}"

  # The artifact checks on the signed file, with its PDB beside it as the symbolizer wants it.
  name=$(basename "${binary}")
  beside=${work}/artifacts/${name%.*}
  mkdir -p "${beside}"
  cp "${signed}/${binary}" "${signed}/symbols/${name%.*}.pdb" "${beside}/"
  cmake "${artifact_check_args[@]}" -DBINARY="${beside}/${name}" -DPDB="${beside}/${name%.*}.pdb" \
    -P "${source_dir}/tests/windows/check_release_binary.cmake" >"${work}/artifact.log" 2>&1 ||
    failed "signed ${binary}: the artifact checks fail: $(cat "${work}/artifact.log")"
done

# SHA256SUMS and the zip were made after signing: they hold the signed files, and the zip lists
# the same entries, in the same order and with the same modes, as the unsigned one.
(cd "${signed}" && sha256sum --quiet -c SHA256SUMS) || failed "SHA256SUMS does not match the signed release"
zip_name=$(cd "${signed}" && ls TarrowinHiddenMidi-*-windows.zip)
mkdir -p "${work}/unzipped"
(cd "${work}/unzipped" && cmake -E tar xf "${signed}/${zip_name}")
diff -r -x "${zip_name}" "${signed}" "${work}/unzipped/${zip_name%.zip}" >/dev/null ||
  failed "the zip does not hold the signed release"
entries() { cmake -E tar tvf "$1" | awk '{print $1, $NF}'; }
[ "$(entries "${signed}/${zip_name}")" = "$(entries "${unsigned}/${zip_name}")" ] ||
  failed "the signed zip's entries differ from the unsigned zip's in name, order or mode"

# The signed client library loads and works in a Windows host (Wine does not check signatures:
# this shows the signed file is still a sound PE image).
mkdir -p "${work}/wine"
cp "${wine_host}" "${signed}/x64/portlink64.dll" "${work}/wine/"
"${wine64}" "${work}/wine/$(basename "${wine_host}")" || failed "the Wine client host fails with the signed portlink64.dll: $?"

# --- a second signing run re-signs: one signature, over the same unsigned bytes ----------------
resigned=${work}/resigned
cp -a "${signed}" "${resigned}"
env "${signing[@]}" RELEASE_SIGNING_URL="${url}" "${source_dir}/scripts/sign-binaries.sh" "${resigned}" "${product}" >/dev/null
for binary in "${binaries[@]}"; do
  check_signature "${resigned}/${binary}" "re-signed ${binary}"
  check_unsigned_bytes_underneath "${resigned}/${binary}" "${unsigned}/${binary}" "re-signed ${binary}"
done

# --- a bad configuration fails the release with its reason; the release dir is left as it was ---
# what | settings | the reason make-release must print
bad_configurations=(
  "wrong password|RELEASE_SIGNING_PKCS12=${keys}/certificate.p12 RELEASE_SIGNING_PASSWORD_FILE=${keys}/wrong-password|could not sign x64/classhook.dll (a wrong password in ${keys}/wrong-password"
  "missing certificate file|RELEASE_SIGNING_PKCS12=${keys}/missing.p12 RELEASE_SIGNING_PASSWORD_FILE=${keys}/password|the certificate file RELEASE_SIGNING_PKCS12=${keys}/missing.p12 does not exist"
  "missing password file|RELEASE_SIGNING_PKCS12=${keys}/certificate.p12 RELEASE_SIGNING_PASSWORD_FILE=${keys}/missing|the password file RELEASE_SIGNING_PASSWORD_FILE=${keys}/missing does not exist"
  "no password file named|RELEASE_SIGNING_PKCS12=${keys}/certificate.p12|RELEASE_SIGNING_PASSWORD_FILE is not set"
  "password file without a certificate|RELEASE_SIGNING_PASSWORD_FILE=${keys}/password|RELEASE_SIGNING_PASSWORD_FILE is set but RELEASE_SIGNING_PKCS12 is not"
  "timestamp server not answering|RELEASE_SIGNING_PKCS12=${keys}/certificate.p12 RELEASE_SIGNING_PASSWORD_FILE=${keys}/password RELEASE_SIGNING_TIMESTAMP_URL=http://127.0.0.1:9/|the timestamp server http://127.0.0.1:9/ did not answer"
)
existing=${work}/existing
for row in "${bad_configurations[@]}"; do
  IFS='|' read -r what settings reason <<<"${row}"
  rm -rf "${existing}"
  cp -a "${unsigned}" "${existing}"
  read -r -a settings <<<"${settings}"
  if make_release "${existing}" "${settings[@]}" >/dev/null 2>"${work}/error.log"; then
    failed "${what}: make-release succeeded"
  fi
  grep -qF "${reason}" "${work}/error.log" || failed "${what}: make-release does not say '${reason}': $(cat "${work}/error.log")"
  diff -r "${unsigned}" "${existing}" >/dev/null || failed "${what}: the existing release directory was changed"
  leftovers=$(find "${build}" -maxdepth 1 -name 'release.*')
  [ -z "${leftovers}" ] || failed "${what}: make-release left ${leftovers}"
done

if [ ${status} -eq 0 ]; then
  echo "${#binaries[@]} binaries signed once each and verified, artifact checks and Wine host passed on them," \
    "unsigned bytes under each signature, re-signing replaces the signature," \
    "${#bad_configurations[@]} bad configurations refused with the release left as it was"
  rm -rf "${work}"
fi
exit ${status}
