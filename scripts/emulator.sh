#!/usr/bin/env bash
# Runs the local cloud-drive emulator in the foreground on the default ports
# (HTTP 18430, TLS 18431) with the demo share. Extra arguments are passed on,
# e.g. --installer PATH, --part-size-mib 256, --preset faults, --log FILE, --sign-key
# build/test_manifest_key/manifest-key.pem (the shares a default build expects).
# The TLS certificate lives in $BRINEMARCH_TLS_DIR (default /var/cache/brinemarch/tls).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tls_dir=${BRINEMARCH_TLS_DIR:-/var/cache/brinemarch/tls}
"$here/tools/drive_emulator/make-cert.sh" "$tls_dir" >/dev/null
exec python3 "$here/tools/drive_emulator/drive_emulator.py" \
  --tls-cert "$tls_dir/emulator-cert.pem" --tls-key "$tls_dir/emulator-key.pem" "$@"
