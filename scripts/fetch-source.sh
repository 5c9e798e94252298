#!/usr/bin/env bash
# Fetches one Debian source package's upstream tarball through a private apt
# state folder, so the system's own package lists stay untouched.
# usage: fetch-source.sh PACKAGE SUITE DEST_DIR
set -euo pipefail
pkg=$1 suite=$2 dest=$3
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/etc/preferences.d" "$dest"
cat > "$state/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main
LIST
opts=(-o Dir::Etc::SourceList="$state/sources.list" -o Dir::Etc::SourceParts=/dev/null
      -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state/cache"
      -o Dir::Etc::PreferencesParts="$state/etc/preferences.d" -o APT::Get::List-Cleanup=0 -o APT::Sandbox::User=root)
apt-get "${opts[@]}" update -qq >/dev/null || { echo "setup: cannot read the source list of Debian $suite" >&2; exit 1; }
cd "$dest"
apt-get "${opts[@]}" source --download-only --tar-only "$pkg" >/dev/null 2>&1 \
  || apt-get "${opts[@]}" source --download-only "$pkg" >/dev/null \
  || { echo "setup: cannot download the source of $pkg from Debian $suite" >&2; exit 1; }
ls "$dest"
