#!/usr/bin/env bash
# Writes a C++ header for the manifest signature tests, made by openssl as a publisher makes
# them: two P-256 keys (the publisher's and a stranger's), a manifest, and the publisher's
# DER signature over it.
# usage: make_signature_case.sh REPO OUT.h
set -euo pipefail
repo=${1:?usage: make_signature_case.sh REPO OUT.h}
out=${2:?usage: make_signature_case.sh REPO OUT.h}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
publisher=$("$repo/scripts/manifest-key.sh" "$tmp/publisher.pem")
stranger=$("$repo/scripts/manifest-key.sh" "$tmp/stranger.pem")
mkdir "$tmp/release" "$tmp/release/data"
printf 'installer' > "$tmp/release/Brinemarch.part1.exe"
printf 'second part' > "$tmp/release/data/Brinemarch.part2.rar"
"$repo/scripts/sign-release.sh" "$tmp/release" "$tmp/publisher.pem" "test release" > /dev/null
hex() { od -An -tx1 -v "$1" | tr -d ' \n'; }
{
  echo "// Made by tests/engine/make_signature_case.sh at build time; do not edit."
  echo "#pragma once"
  echo "inline constexpr const wchar_t* kPublisherKey = L\"$publisher\";"
  echo "inline constexpr const wchar_t* kStrangerKey = L\"$stranger\";"
  echo "inline constexpr const char* kSignedManifestHex = \"$(hex "$tmp/release/brinemarch-manifest.json")\";"
  echo "inline constexpr const char* kManifestSignatureHex = \"$(hex "$tmp/release/brinemarch-manifest.sig")\";"
} > "$out.tmp"
mv "$out.tmp" "$out"
