#!/usr/bin/env bash
# Builds the download engine aria2c.exe with MinGW-w64 from Debian's aria2
# source package and caches the stripped result, keyed by version, so every
# later setup reuses it. usage: build-engine.sh CACHE_DIR
set -euo pipefail
cache=$1
here=$(cd "$(dirname "$0")" && pwd)
version=1.36.0
out="$cache/aria2-$version"
mkdir -p "$cache"
# One build at a time: a second setup waits for the first and then finds the cache.
exec 8>"$cache/aria2.lock"
flock 8
if [ -x "$out/aria2c.exe" ] && [ -f "$out/COPYING" ]; then
  echo "setup: engine aria2c.exe $version is cached at $out"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/fetch-source.sh" aria2 bookworm "$work/src" >/dev/null
tar -xzf "$work/src/aria2_$version.orig.tar.gz" -C "$work"
# A neutral folder name: cleaning up leftover engines with "pkill -f aria2" must not hit the build.
mv "$work/aria2-$version" "$work/engine-src"
cd "$work/engine-src"
echo "setup: building aria2c.exe $version with MinGW-w64 (takes a few minutes)"
# GCC 12 no longer pulls <array> in transitively; aria2's WinTLS header needs it.
if ! ./configure --host=x86_64-w64-mingw32 --prefix="$work/inst" \
    CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix \
    CXXFLAGS="-O2 -include array" LDFLAGS="-static -static-libgcc -static-libstdc++" \
    ARIA2_STATIC=yes --with-wintls --enable-bittorrent --disable-metalink \
    --without-gnutls --without-openssl --without-libnettle --without-libgmp \
    --without-libgcrypt --without-libxml2 --without-libexpat --without-sqlite3 \
    --without-libssh2 --without-libcares --without-libz --without-libuv \
    --without-appletls --disable-nls > "$work/configure.log" 2>&1; then
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
printf 'aria2 %s, built from the Debian source package aria2 (%s orig tarball, bookworm).\n' "$version" "$version" > "$out.tmp/SOURCE"
rm -rf "$out" && mv "$out.tmp" "$out"
echo "setup: engine aria2c.exe $version cached at $out"
