#!/usr/bin/env bash
# One road through the built downloader under Wine, driven like a player, in a loopback
# network of its own.
#   download: a small demo share (a sub-folder, a short last part, the stand-in installer),
#     with stale files of the share's names (one with a leftover engine control file) in
#     the save folder. Every file must arrive intact with nothing left beside it, and
#     "安装游戏" must start the installer from the save folder and end the program.
#   expired_session: the drive answers the listing with an expired session. The window must
#     show "下载失败,请重试！", offer a new run afterwards, and nothing may be downloaded.
# usage: e2e_road.sh REPO BUILD_DIR download|expired_session
set -uo pipefail
repo=$1
build=$2
road=$3
. "$repo/tools/driver/road.sh" "$repo" "$build" "$build/e2e/wine"
road_enter_netns "$0" "$@"

work="$build/e2e/$road"
rm -rf "$work"
road_shots="$work/screenshots"
road_wine
trap road_stop EXIT
road_stage "$work/app"
save="$work/app/Brinemarch"
installer="$build/standin_installer/Brinemarch.part1.exe"
[ -f "$installer" ] || road_fail "missing the stand-in installer $installer (build everything first)"

# Requests of the run by kind, from the emulator's log.
requests() {
  python3 - "$work/drive/requests.jsonl" <<'EOF'
import json, sys
lists = streams = 0
for line in open(sys.argv[1]):
    path = json.loads(line)["path"]
    lists += path.startswith("/space/api/explorer/v3/children/list/")
    streams += path.startswith("/space/api/box/stream/download/all/")
print(lists, streams)
EOF
}

case $road in
  download)
    share=(--preset demo --part-size-mib 0.5 --installer "$installer")
    mkdir -p "$save"
    head -c 5000 /dev/urandom >"$save/Brinemarch.part3.rar"
    head -c 700 /dev/urandom >"$save/Brinemarch.part3.rar.aria2"
    printf 'stale\n' >"$save/Brinemarch.part4.rar"
    road_emulator_start "$work/drive" "${share[@]}"
    road_app_start
    road_drive --marker Brinemarch.part1.started.txt --run-timeout 300 || road_fail "the run did not go as a player expects: $road_result"
    verified=$(road_verify "$save" "${share[@]}") || road_fail "the save folder does not hold the share"
    # The stand-in notes its command line: the save folder's installer (quoted or not), nothing else.
    started=$(head -n 1 "$save/Brinemarch.part1.started.txt" | tr -d '\r')
    expected="Z:${save//\//\\}\\Brinemarch.part1.exe"
    [ "$started" = "$expected" ] || [ "$started" = "\"$expected\"" ] ||
      road_fail "the installer was started as '$started', expected '$expected'"
    read -r lists streams < <(requests)
    [ "$lists" -ge 2 ] || road_fail "expected the share and its sub-folder to be listed, saw $lists listings"
    road_say "e2e download: ${verified% *} files, ${verified#* } bytes intact; $streams stream requests"
    ;;
  expired_session)
    road_emulator_start "$work/drive" --preset demo --list-fault expired
    road_app_start
    road_drive --expect failure --run-timeout 300 || road_fail "the run did not go as a player expects: $road_result"
    read -r lists streams < <(requests)
    [ "$lists" -ge 1 ] || road_fail "the share was never listed"
    [ "$streams" = 0 ] || road_fail "$streams downloads were requested after an empty listing"
    [ ! -e "$save" ] || road_fail "the save folder was created for a run with nothing listed"
    road_say "e2e expired session: failure shown, window offered a new run, nothing downloaded"
    ;;
  *)
    road_fail "unknown road $road"
    ;;
esac
