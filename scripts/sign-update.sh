#!/usr/bin/env bash
# Prints the signature of one release for the update feed (the enclosure's sparkle:edSignature):
# Ed25519 over the version together with the file, so that a signed file cannot be offered under
# another version.
#   scripts/sign-update.sh KEY.pem VERSION FILE
# A key: openssl genpkey -algorithm ed25519 -out KEY.pem
# Its public half for -DZANVOLT_UPDATE_PUBLIC_KEY:
#   openssl pkey -in KEY.pem -pubout -outform DER | tail -c 32 | base64
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 KEY.pem VERSION FILE" >&2
  exit 2
fi
key=$1 version=$2 file=$3
message=$(mktemp)
trap 'rm -f "$message"' EXIT
hash=$(sha512sum <"$file" | cut -d' ' -f1)
printf 'Zanvolt-Update %s\n%s\n' "$version" "$hash" >"$message"
openssl pkeyutl -sign -rawin -inkey "$key" -in "$message" | base64 -w0
echo
