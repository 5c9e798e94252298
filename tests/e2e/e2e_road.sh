#!/usr/bin/env bash
# One road through the built downloader under Wine, driven like a player, in a loopback
# network of its own.
#   download: a small demo share (a sub-folder, a short last part, the stand-in installer),
#     with stale files of the share's names (one with a leftover engine control file) in
#     the save folder. Every file must arrive intact with nothing left beside it, and
#     "安装游戏" must start the installer from the save folder and end the program.
#     While it runs, the engine must answer on loopback only, and a second start from the
#     same folder must end with exit code 0 and leave the first run alone.
#     A bogus winmm.dll lies beside the program, with Wine told to prefer such a DLL to its
#     own: the program must run as if it were not there and never load it.
#   expired_session: the drive answers the listing with an expired session. The window must
#     show "下载失败,请重试！", offer a new run afterwards, and nothing may be downloaded.
#   start_places: the program started where players start it: from the Wine prefix's
#     temporary folder (as an archive viewer does) and from a read-only folder, the save
#     folder box must propose a folder elsewhere and the bar say why; without aria2c.exe
#     beside it, the bar must ask for the whole archive to be unpacked; from a folder whose
#     save folder has 240 characters, the run must refuse the paths as too long after the
#     listing, before any download and without creating the save folder.
# usage: e2e_road.sh REPO BUILD_DIR download|expired_session|start_places
set -uo pipefail
repo=$1
build=$2
road=$3
. "$repo/tools/driver/road.sh" "$repo" "$build" "$build/e2e/wine"
road_enter_netns "$0" "$@"

work="$build/e2e/$road"
# The read-only mount of an earlier start_places road that ended half way.
if mountpoint -q "$work/read-only" 2>/dev/null; then umount "$work/read-only"; fi
rm -rf "$work"
road_shots="$work/screenshots"
road_wine
trap road_stop EXIT
road_stage "$work/app"
save="$work/app/Brinemarch"
save_tail="/Brinemarch"
installer="$build/standin_installer/Brinemarch.part1.exe"
[ -f "$installer" ] || road_fail "missing the stand-in installer $installer (build everything first)"

# Requests of the run by kind, from the emulator's log.
requests() {
  python3 - "$work/drive/requests.jsonl" "$repo/tools/drive_emulator" <<'EOF'
import json, sys
sys.path.insert(0, sys.argv[2])
import signing
lists = streams = 0
# The release manifest and its signature are fetched before the paths are measured: only the
# parts' streams count.
manifest = tuple("/space/api/box/stream/download/all/" + token for token in signing.TOKENS.values())
for line in open(sys.argv[1]):
    path = json.loads(line)["path"]
    lists += path.startswith("/space/api/explorer/v3/children/list/")
    streams += path.startswith("/space/api/box/stream/download/all/") and not path.startswith(manifest)
print(lists, streams)
EOF
}

# The engine's RPC port from a non-loopback address of the road's own network: refused.
# Then a second start of the program from the same folder: exit code 0 within its wait, the
# first program's engine untouched.
running_checked=""
check_running() {
  [ "$1" = running ] || return 0
  local engine port
  engine=$(road_engine_pid)
  [ -n "$engine" ] || road_fail "no engine runs during the run"
  port=$(ss -ltnpH 2>/dev/null | sed -n 's/.*127\.0\.0\.1:\(70[0-9][0-9]\) .*/\1/p' | head -n 1)
  [ -n "$port" ] || road_fail "the engine's RPC port is not listening on loopback"
  if [ "${BM_ROAD_NETNS:-}" = inside ]; then
    # An address of the road's own network that is not a loopback one (on its only device).
    ip addr replace 10.213.0.2/32 dev lo || road_fail "cannot add an address to the road's own network"
    ! ss -ltnH | grep -E "(0\.0\.0\.0|\*|\[::\]|10\.213\.0\.2):$port " ||
      road_fail "the engine listens beyond loopback: $(ss -ltnH | grep ":$port ")"
    ! curl -s -m 3 -o /dev/null "http://10.213.0.2:$port/jsonrpc" ||
      road_fail "the engine's RPC port answered on 10.213.0.2"
    curl -s -m 3 -o /dev/null "http://127.0.0.1:$port/jsonrpc" ||
      road_fail "the engine's RPC port did not answer on loopback"
    road_say "e2e: the engine's RPC port $port answers on loopback only"
  fi
  local began code
  began=$(date +%s.%N)
  (cd "$road_app_dir" && timeout 60 wine BrinemarchDownloader.exe) >"$road_state_dir/second.out" 2>&1 </dev/null
  code=$?
  [ "$code" = 0 ] || road_fail "a second start from the same folder ended with exit code $code"
  [ "$(road_engine_pid)" = "$engine" ] || road_fail "a second start touched the first program's engine"
  running_checked=1
  road_say "e2e: a second start ended with exit code 0 after $(awk -v a="$began" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}') s"
}

case $road in
  download)
    road_on_pause() { check_running "$@"; }
    # Each stream at 512 KiB/s, a second per part: the rows are all reported only once the engine
    # takes the last files, and that last stretch must outlast the driver's polls (at 4 MiB/s it
    # lasted about 0.1 s and was missed).
    share=(--preset demo --part-size-mib 0.5 --installer "$installer")
    mkdir -p "$save"
    head -c 5000 /dev/urandom >"$save/Brinemarch.part3.rar"
    head -c 700 /dev/urandom >"$save/Brinemarch.part3.rar.aria2"
    printf 'stale\n' >"$save/Brinemarch.part4.rar"
    cp "$build/planted/winmm.dll" "$road_app_dir/" || road_fail "missing the planted winmm.dll (build everything first)"
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winmm=n,b"
    road_emulator_start "$work/drive" "${share[@]}" --stream-throttle 524288
    road_app_start
    road_drive --marker Brinemarch.part1.started.txt --run-timeout 300 || road_fail "the run did not go as a player expects: $road_result"
    [ -n "$running_checked" ] || road_fail "the run was never seen with every row reported"
    verified=$(road_verify "$save" "${share[@]}") || road_fail "the save folder does not hold the share"
    # The stand-in notes its command line: the save folder's installer (quoted or not), nothing else.
    started=$(head -n 1 "$save/Brinemarch.part1.started.txt" | tr -d '\r')
    expected="Z:${save//\//\\}\\Brinemarch.part1.exe"
    [ "$started" = "$expected" ] || [ "$started" = "\"$expected\"" ] ||
      road_fail "the installer was started as '$started', expected '$expected'"
    [ ! -e "$road_app_dir/planted_dll_loaded.txt" ] || road_fail "the winmm.dll beside the program was loaded"
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
  start_places)
    road_emulator_start "$work/drive" --preset demo
    # ready_field NAME: a field of the driver's ready line (the bar's text is its last).
    ready_field() {
      case $1 in
        bar) sed -n 's/.* bar=//p' <<<"$road_ready_line" ;;
        folder) sed -n 's/.* folder=\(.*\) seconds=.*/\1/p' <<<"$road_ready_line" ;;
      esac
    }
    # start_at DIR: the staged program started from DIR, read when ready and closed.
    start_at() {
      road_app_dir=$1
      road_ready_line=""
      road_app_start
      road_drive --ready-close || road_fail "the program started from $1 did not come up: $road_result"
      road_app_end
    }
    temp=$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
    temp_unix=$(winepath -u "$temp" 2>/dev/null)
    if [ -z "$temp" ] || [ ! -d "$temp_unix" ]; then road_fail "cannot find the prefix's temporary folder ($temp)"; fi
    road_stage "$temp_unix/bm viewer/Brinemarch"
    start_at "$road_app_dir"
    [ "$(ready_field bar)" = "下载器在临时文件夹中运行，游戏将保存到上方的文件夹" ] ||
      road_fail "started from the temporary folder, the bar read '$(ready_field bar)'"
    case "$(ready_field folder)" in
      "$temp"*) road_fail "started from the temporary folder, the save folder $(ready_field folder) is inside it" ;;
    esac
    road_say "e2e start places: from the temporary folder the box proposes $(ready_field folder)"

    road_stage "$work/no engine"
    rm "$road_app_dir/aria2c.exe"
    start_at "$road_app_dir"
    [ "$(ready_field bar)" = "请先解压全部文件，再运行下载器" ] ||
      road_fail "started without aria2c.exe, the bar read '$(ready_field bar)'"
    road_say "e2e start places: without aria2c.exe the bar asks for the whole archive"

    road_stage "$work/read-only source"
    mkdir -p "$work/read-only"
    if mount --bind "$road_app_dir" "$work/read-only" 2>/dev/null && mount -o remount,bind,ro "$work/read-only"; then
      start_at "$work/read-only"
      umount "$work/read-only"
      [ "$(ready_field bar)" = "下载器所在的文件夹无法写入，游戏将保存到上方的文件夹" ] ||
        road_fail "started from a read-only folder, the bar read '$(ready_field bar)'"
      road_say "e2e start places: from a read-only folder the box proposes $(ready_field folder)"
    else
      road_say "e2e start places: no read-only mount (mounting needs root); that place is not tried"
    fi

    # A program folder whose save folder (Z: + the Unix path + \Brinemarch) has 240 characters.
    base="$work/long "
    windows_length=$((2 + ${#base} + ${#save_tail}))
    long="$base$(printf 'x%.0s' $(seq 1 $((240 - windows_length))))"
    road_stage "$long"
    road_app_start
    road_drive --expect failure --expect-message "保存路径太长" --run-timeout 120 ||
      road_fail "a 240-character save folder was not refused as too long: $road_result"
    road_app_end
    read -r lists streams < <(requests)
    [ "$lists" -ge 1 ] || road_fail "the share was never listed"
    [ "$streams" = 0 ] || road_fail "$streams downloads were requested for paths that are too long"
    [ ! -e "$long/Brinemarch" ] || road_fail "the save folder was created for a run refused as too long"
    road_say "e2e start places: a 240-character save folder refused as too long after the listing, nothing downloaded"
    ;;
  *)
    road_fail "unknown road $road"
    ;;
esac
