#!/usr/bin/env bash
# clang-format over every C++ file of the repository against .clang-format; fails on any
# file that is not formatted, naming it.
# usage: check_format.sh REPO
set -uo pipefail
repo=${1:-$(dirname "$0")/../..}
cd "$repo" || exit 1
command -v clang-format >/dev/null || { echo "check_format: clang-format is not installed (scripts/setup.sh)" >&2; exit 1; }
mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h')
clang-format --dry-run --Werror "${files[@]}" || {
  echo "check_format: run clang-format -i on the files above" >&2
  exit 1
}
echo "check_format: ${#files[@]} files formatted"
