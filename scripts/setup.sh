#!/usr/bin/env bash
# Brings every dependency from Debian's packages onto a fresh Debian 12 machine.
# Idempotent and unattended: when everything is in place it only checks, as any user; what
# must be installed is installed as root (through sudo when the caller is not root). Caches
# outside the repo in /var/cache/brinemarch (BRINEMARCH_DEPS_DIR), readable by every user:
# yyjson's sources, a folder holding only RapidJSON's headers, the engine aria2c.exe built
# with MinGW, the emulator's TLS certificate.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
cache=${BRINEMARCH_DEPS_DIR:-/var/cache/brinemarch}
step() { printf 'setup: %s\n' "$*"; }
fail() { printf 'setup: FAILED: %s\n' "$*" >&2; exit 1; }

packages=(cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  wine64 wine xvfb xauth python3 rapidjson-dev googletest locales fonts-wqy-microhei
  imagemagick x11-utils openssl curl dpkg-dev xz-utils pkg-config ca-certificates iproute2 shellcheck clang-format osslsigncode)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
have_locale() { locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; }
have_rapidjson() { [ -f "$cache/rapidjson-include/rapidjson/document.h" ]; }
have_yyjson() { [ -f "$cache/yyjson/src/yyjson.c" ]; }
have_engine() { "$here/build-engine.sh" --check "$cache" >/dev/null; }
# Readable by others, not by whoever asks: root reads every file.
have_cert() {
  [ ! -x "$repo/tools/drive_emulator/make-cert.sh" ] ||
    [ -n "$(find "$cache/tls/emulator-key.pem" -perm -o+r 2>/dev/null)" ]
}

needed=()
[ ${#missing[@]} -eq 0 ] || needed+=("Debian packages (${missing[*]})")
have_locale || needed+=("the zh_CN.UTF-8 locale")
have_rapidjson || needed+=("RapidJSON's headers")
have_yyjson || needed+=("yyjson's sources")
have_engine || needed+=("the engine aria2c.exe")
have_cert || needed+=("the emulator's TLS certificate")
if [ ${#needed[@]} -eq 0 ]; then
  step "ready (cache: $cache)"
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  what=$(printf '%s; ' "${needed[@]}")
  what=${what%; }
  command -v sudo >/dev/null || fail "installing $what needs root and there is no sudo: run the command again as root"
  step "installing as root through sudo: $what"
  sudo env BRINEMARCH_DEPS_DIR="$cache" bash "$here/setup.sh" ||
    fail "installing as root through sudo failed: run the command again as root"
  exit 0
fi

# Whoever runs the build later reads what is installed here.
umask 022
if [ ${#missing[@]} -gt 0 ]; then
  step "installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || fail "apt-get update"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || fail "apt-get install ${missing[*]}"
fi

# Wine reports code page 936 and maps Chinese file names only with this locale generated.
if ! have_locale; then
  step "generating the zh_CN.UTF-8 locale"
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null || fail "locale-gen"
fi

mkdir -p "$cache"

# RapidJSON is header-only; the cross build must not see the host's /usr/include.
if ! have_rapidjson; then
  step "copying RapidJSON's headers"
  rm -rf "$cache/rapidjson-include" && mkdir -p "$cache/rapidjson-include"
  cp -r /usr/include/rapidjson "$cache/rapidjson-include/" || fail "RapidJSON headers"
fi

# yyjson is not in Debian 12; its source package of the next release is.
if ! have_yyjson; then
  step "fetching yyjson's sources from Debian's source package"
  tmp=$(mktemp -d)
  "$here/fetch-source.sh" yyjson trixie "$tmp/dl" >/dev/null || fail "yyjson source package"
  mkdir -p "$tmp/x" || fail "unpacking yyjson"
  tar -xf "$tmp"/dl/yyjson_*.orig.tar.* -C "$tmp/x" || fail "unpacking yyjson"
  top=$(dirname "$(find "$tmp/x" -path '*/src/yyjson.c' | head -n 1)")
  [ -f "$top/yyjson.h" ] || fail "yyjson tarball has no src/yyjson.h"
  rm -rf "$cache/yyjson" && mkdir -p "$cache/yyjson"
  cp -r "$(dirname "$top")"/. "$cache/yyjson/"
  rm -rf "$tmp"
fi

"$here/build-engine.sh" "$cache" || fail "engine aria2c.exe"

if [ -x "$repo/tools/drive_emulator/make-cert.sh" ]; then
  "$repo/tools/drive_emulator/make-cert.sh" "$cache/tls" >/dev/null || fail "emulator TLS certificate"
  # A throwaway key for the emulator's loopback port: every user's emulator reads it.
  chmod a+r "$cache/tls/emulator-key.pem"
fi
step "ready (cache: $cache)"
