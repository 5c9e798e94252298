#!/usr/bin/env bash
# Runs shellcheck over every shell script of the repository; fails on any finding. SC1091 (a
# sourced file named by a variable cannot be followed) is the one left out: the scripts
# source their neighbours by computed paths, and those are checked on their own here.
# usage: check_shell.sh REPO
set -uo pipefail
repo=${1:-$(dirname "$0")/../..}
cd "$repo" || exit 1
command -v shellcheck >/dev/null || { echo "check_shell: shellcheck is not installed (scripts/setup.sh)" >&2; exit 1; }
mapfile -t scripts < <(git ls-files '*.sh' 2>/dev/null || find scripts tools tests .ci -name '*.sh')
[ -f .ci/run ] && scripts+=(.ci/run)
shellcheck -x -e SC1091 "${scripts[@]}" || { echo "check_shell: findings in the scripts above" >&2; exit 1; }
echo "check_shell: ${#scripts[@]} scripts clean"
