#!/usr/bin/env bash
# Builds the download engine aria2c.exe with MinGW-w64 from Debian's aria2
# source package and caches the stripped result, keyed by version, so every
# later setup reuses it. usage: build-engine.sh [--check] CACHE_DIR
# --check only tells whether the engine is cached (exit 0) or not, writing nothing.
set -euo pipefail
check=no
[ "${1:-}" = --check ] && { check=yes; shift; }
cache=$1
here=$(cd "$(dirname "$0")" && pwd)
version=1.36.0
out="$cache/aria2-$version"
tarball="aria2_$version.orig.tar.gz"
end_if_cached() {
  if [ -x "$out/aria2c.exe" ] && [ -f "$out/COPYING" ] && [ -f "$out/$tarball" ]; then
    echo "setup: engine aria2c.exe $version is cached at $out"
    exit 0
  fi
}
# Reading the cache needs no right to write it.
end_if_cached
[ "$check" = no ] || exit 1
mkdir -p "$cache"
# One build at a time: a second setup waits for the first and then finds the cache.
exec 8>"$cache/aria2.lock"
flock 8
# The engine is GPL-2.0: the release package carries the exact source it was built from and
# how it was built, so the cache keeps both beside the program.
configure_args=(--host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix
  "CXXFLAGS=-O2 -include array" "LDFLAGS=-static -static-libgcc -static-libstdc++"
  ARIA2_STATIC=yes --with-wintls --enable-bittorrent --disable-metalink
  --without-gnutls --without-openssl --without-libnettle --without-libgmp
  --without-libgcrypt --without-libxml2 --without-libexpat --without-sqlite3
  --without-libssh2 --without-libcares --without-libz --without-libuv
  --without-appletls --disable-nls)
write_source_notes() {
  local dir=$1
  printf 'aria2 %s, built unmodified from the Debian source package aria2 (bookworm):
%s in this folder is its upstream source.
' \
    "$version" "$tarball" > "$dir/SOURCE"
  {
    printf 'How aria2c.exe was built (Debian, MinGW-w64 GCC with posix threads):

'
    printf '  tar -xzf %s && cd aria2-%s
' "$tarball" "$version"
    printf '  ./configure'
    printf " '%s'" "${configure_args[@]}"
    printf '
  make -C lib && make -C deps && make -C src
'
    printf '  x86_64-w64-mingw32-strip -o aria2c.exe src/aria2c.exe
'
  } > "$dir/BUILD"
}
end_if_cached
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/fetch-source.sh" aria2 bookworm "$work/src" >/dev/null
if [ -x "$out/aria2c.exe" ] && [ -f "$out/COPYING" ]; then
  # A cache from before the source was kept: add it, the program stays.
  cp "$work/src/$tarball" "$out/$tarball"
  write_source_notes "$out"
  echo "setup: engine source $tarball added to $out"
  exit 0
fi
tar -xzf "$work/src/$tarball" -C "$work"
# A neutral folder name: cleaning up leftover engines with "pkill -f aria2" must not hit the build.
mv "$work/aria2-$version" "$work/engine-src"
cd "$work/engine-src"
echo "setup: building aria2c.exe $version with MinGW-w64 (takes a few minutes)"
# GCC 12 no longer pulls <array> in transitively; aria2's WinTLS header needs it.
if ! ./configure --prefix="$work/inst" "${configure_args[@]}" > "$work/configure.log" 2>&1; then
  tail -n 30 "$work/configure.log" >&2
  echo "setup: configuring aria2 for MinGW failed" >&2
  exit 1
fi
# Only what aria2c.exe needs: gnulib, the bundled wslay and the program (no docs, no po).
build() { make -j"$(nproc)" -C lib && make -j"$(nproc)" -C deps && make -j"$(nproc)" -C src; }
# make resumes where it stopped: a compiler killed from outside costs one retry, not the build.
if ! { build || build || build; } > "$work/make.log" 2>&1; then
  cp "$work/make.log" "$cache/aria2-make.log" 2>/dev/null || true
  grep -E -m 20 'error|Error' "$work/make.log" >&2 || tail -n 40 "$work/make.log" >&2
  echo "setup: building aria2 failed" >&2
  exit 1
fi
mkdir -p "$out.tmp"
x86_64-w64-mingw32-strip -o "$out.tmp/aria2c.exe" src/aria2c.exe
cp COPYING "$out.tmp/COPYING"
cp "$work/src/$tarball" "$out.tmp/$tarball"
write_source_notes "$out.tmp"
rm -rf "$out" && mv "$out.tmp" "$out"
echo "setup: engine aria2c.exe $version cached at $out"
