#!/usr/bin/env bash
# Creates the self-signed certificate of the emulator's TLS port, once.
# usage: make-cert.sh CACHE_DIR   -> CACHE_DIR/emulator-cert.pem, CACHE_DIR/emulator-key.pem
# The client ignores certificate errors for these requests; the name and address
# entries only keep tools such as curl quiet when given the certificate.
set -euo pipefail
dir=${1:?usage: make-cert.sh CACHE_DIR}
cert="$dir/emulator-cert.pem"
key="$dir/emulator-key.pem"
mkdir -p "$dir"
if [ -s "$cert" ] && [ -s "$key" ] && openssl x509 -in "$cert" -noout -checkend 86400 >/dev/null 2>&1; then
  echo "$cert"
  echo "$key"
  exit 0
fi
tmp=$(mktemp -d "$dir/.cert.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -subj "/CN=127.0.0.1" -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
  -keyout "$tmp/key.pem" -out "$tmp/cert.pem" 2>/dev/null
chmod 600 "$tmp/key.pem"
mv "$tmp/key.pem" "$key"
mv "$tmp/cert.pem" "$cert"
echo "$cert"
echo "$key"
