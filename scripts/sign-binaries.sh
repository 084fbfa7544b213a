#!/usr/bin/env bash
# Signs every binary of a release tree (x64/ and x86/) with a SHA-256 Authenticode signature,
# when the environment configures a certificate. make-release runs it through CPack on the
# staged tree, before the checksums and the zip are made.
#
#   RELEASE_SIGNING_PKCS12         the PKCS#12 file (.pfx, .p12) holding the certificate and key
#   RELEASE_SIGNING_PASSWORD_FILE  the file holding its password (osslsigncode reads it itself,
#                                  so the password is on no command line and in no environment)
#   RELEASE_SIGNING_URL            optional: the vendor's web address, carried in the signature
#   RELEASE_SIGNING_TIMESTAMP_URL  optional: an RFC 3161 timestamp server
#
# Without RELEASE_SIGNING_PKCS12 nothing is signed. Every binary is signed into a scratch
# folder first; the tree's files are replaced only when all of them were signed. A binary that
# carries a signature already is re-signed: its signature is replaced, never nested.
# Usage: sign-binaries.sh <release tree> <description carried in the signature>
set -euo pipefail
shopt -s nullglob
tree=$1
description=$2

fail() {
  echo "sign-binaries: $*" >&2
  exit 1
}

pkcs12=${RELEASE_SIGNING_PKCS12:-}
password_file=${RELEASE_SIGNING_PASSWORD_FILE:-}
url=${RELEASE_SIGNING_URL:-}
timestamp_url=${RELEASE_SIGNING_TIMESTAMP_URL:-}

if [ -z "${pkcs12}" ]; then
  # Half a configuration is a mistake, not a wish for an unsigned release.
  for setting in RELEASE_SIGNING_PASSWORD_FILE RELEASE_SIGNING_URL RELEASE_SIGNING_TIMESTAMP_URL; do
    [ -z "${!setting:-}" ] || fail "${setting} is set but RELEASE_SIGNING_PKCS12 is not: no certificate to sign with"
  done
  exit 0
fi
[ -f "${pkcs12}" ] || fail "the certificate file RELEASE_SIGNING_PKCS12=${pkcs12} does not exist"
[ -n "${password_file}" ] || fail "RELEASE_SIGNING_PASSWORD_FILE is not set: name the file holding the password of ${pkcs12}"
[ -f "${password_file}" ] && [ -r "${password_file}" ] ||
  fail "the password file RELEASE_SIGNING_PASSWORD_FILE=${password_file} does not exist or cannot be read"
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/install-deps.sh installs it)"

options=(-pkcs12 "${pkcs12}" -readpass "${password_file}" -h sha256 -n "${description}")
[ -z "${url}" ] || options+=(-i "${url}")
[ -z "${timestamp_url}" ] || options+=(-ts "${timestamp_url}")

binaries=("${tree}"/x64/* "${tree}"/x86/*)
[ ${#binaries[@]} -gt 0 ] || fail "no binaries in ${tree}/x64 or ${tree}/x86"

scratch=$(mktemp -d)
trap 'rm -rf "${scratch}"' EXIT
causes="a wrong password in ${password_file}, or ${pkcs12} is not a PKCS#12 file with a certificate and its key"
[ -z "${timestamp_url}" ] || causes+=", or the timestamp server ${timestamp_url} did not answer"
for binary in "${binaries[@]}"; do
  relative=${binary#"${tree}/"}
  mkdir -p "${scratch}/$(dirname "${relative}")"
  if ! osslsigncode sign "${options[@]}" -in "${binary}" -out "${scratch}/${relative}" >"${scratch}/log" 2>&1; then
    fail "could not sign ${relative} (${causes}); osslsigncode said:
$(cat "${scratch}/log")"
  fi
done
# Copied over the originals, which keeps their file modes (the zip records them).
for binary in "${binaries[@]}"; do
  cp "${scratch}/${binary#"${tree}/"}" "${binary}"
done
echo "sign-binaries: ${#binaries[@]} binaries signed with ${pkcs12}"
