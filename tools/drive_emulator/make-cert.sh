#!/usr/bin/env bash
# Creates, once, the certificates of the emulator's TLS port: a test authority of our own and
# what it signs. The tests' Wine prefix trusts that authority and nothing else of ours.
# usage: make-cert.sh DIR  -> in DIR:
#   authority.pem          the test authority (trusted by the tests' Wine prefix)
#   emulator-cert.pem      127.0.0.1 and localhost, signed by the authority
#   emulator-key.pem       the key of every certificate below
#   other-host-cert.pem    another host's name only, signed by the authority
#   untrusted-cert.pem     127.0.0.1 and localhost, signed by an authority nobody trusts
# The authority's key is not kept: nothing is signed after this script ends.
set -euo pipefail
dir=${1:?usage: make-cert.sh DIR}
mkdir -p "$dir"
# Fixtures starting together must not each make half of a set.
exec 9>"$dir/.lock"
flock 9
files=(authority.pem emulator-cert.pem emulator-key.pem other-host-cert.pem untrusted-cert.pem)
# Raised whenever what this script makes changes, so that an older set is made again.
version=2
fresh=yes
for f in "${files[@]}"; do [ -s "$dir/$f" ] || fresh=no; done
[ "$(cat "$dir/version" 2>/dev/null)" = $version ] || fresh=no
if [ $fresh = yes ] && openssl x509 -in "$dir/emulator-cert.pem" -noout -checkend 86400 >/dev/null 2>&1; then
  echo "$dir/emulator-cert.pem"
  echo "$dir/emulator-key.pem"
  exit 0
fi
tmp=$(mktemp -d "$dir/.cert.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
authority() {  # NAME SUBJECT
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$tmp/$1-key.pem" -out "$tmp/$1.pem" 2>/dev/null
}
leaf() {  # OUT AUTHORITY SUBJECT SUBJECT_ALT_NAMES
  openssl req -new -key "$tmp/emulator-key.pem" -subj "$3" -out "$tmp/$1.csr" 2>/dev/null
  printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
    "extendedKeyUsage=serverAuth" "subjectAltName=$4" > "$tmp/$1.ext"
  openssl x509 -req -in "$tmp/$1.csr" -CA "$tmp/$2.pem" -CAkey "$tmp/$2-key.pem" -CAcreateserial \
    -days 825 -sha256 -extfile "$tmp/$1.ext" -out "$tmp/$1.pem" 2>/dev/null
}
authority authority "/O=Brinemarch tests/CN=Brinemarch test authority"
authority stranger "/O=Brinemarch tests/CN=Brinemarch stranger authority"
openssl genrsa -out "$tmp/emulator-key.pem" 2048 2>/dev/null
# The address also as a DNS name: Wine's WinHTTP matches only DNS names, Windows both.
loopback="IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost"
leaf emulator-cert authority "/CN=127.0.0.1" "$loopback"
leaf other-host-cert authority "/CN=drive.example" "DNS:drive.example"
leaf untrusted-cert stranger "/CN=127.0.0.1" "$loopback"
chmod 600 "$tmp/emulator-key.pem"
for f in "${files[@]}"; do mv "$tmp/$f" "$dir/$f"; done
echo $version > "$dir/version"
echo "$dir/emulator-cert.pem"
echo "$dir/emulator-key.pem"
