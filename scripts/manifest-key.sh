#!/usr/bin/env bash
# The publisher's release key: makes an ECDSA P-256 key pair once and prints its public key,
# the value of the build constant BRINEMARCH_MANIFEST_KEY (base64 of the DER
# SubjectPublicKeyInfo). An existing key file is never replaced: its public key is printed.
# Keep the key file offline; whoever holds it decides what the downloader accepts.
# usage: manifest-key.sh KEYFILE.pem
set -euo pipefail
key=${1:?usage: manifest-key.sh KEYFILE.pem}
if [ ! -s "$key" ]; then
  umask 077
  tmp=$(mktemp "$key.XXXXXX")
  trap 'rm -f "$tmp"' EXIT
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$tmp" 2>/dev/null
  # Never over a key another run made meanwhile.
  mv -n "$tmp" "$key"
fi
openssl pkey -in "$key" -pubout -outform DER | base64 -w0
echo
