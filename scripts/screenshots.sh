#!/usr/bin/env bash
# Photographs the window in each state the documentation shows, on a virtual screen of 1280x800
# at 96 DPI, into docs/screenshots/:
#   <scene>-1280x800.png        every scene, the light palette
#   <scene>-1280x800-dark.png   the grids and a dialog with the Fusion style and a dark palette
#   <scene>-2560x1600-2x.png    a grid and a drawn picture at twice the size (QT_SCALE_FACTOR=2)
# Each scene starts from an empty settings folder, as on a first run. No desktop theme is asked
# for its palette, so light and dark are the program's own drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
. scripts/deps.sh
install_deps xvfb openbox imagemagick
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target corvatel-scenes corvatel-service >/dev/null
out=$top/docs/screenshots
mkdir -p "$out"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A second working proxy for the tested rows, as ./run.sh has it.
state=$(mktemp -d)
if port_free 8643 && command -v tinyproxy >/dev/null; then
    printf 'Port 8643\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nLogLevel Critical\n' >"$state/tinyproxy.conf"
    [ "$(id -u)" = 0 ] && printf 'User nobody\nGroup nogroup\n' >>"$state/tinyproxy.conf"
    tinyproxy -d -c "$state/tinyproxy.conf" >/dev/null 2>&1 & pids+=($!)
fi

shoot() { # size name scene [option] [VAR=value...]
    local size=$1 name=$2 scene=$3 option=${4:-} work disp
    shift 4 || shift $#
    work=$(mktemp -d)
    mkdir -p "$work/config" "$work/data"
    for p in 127.0.0.1:8642 127.0.0.1:8643 127.0.0.1:9 127.0.0.1:1 198.51.100.23:3128 203.0.113.50:8080; do
        echo "?|$p|0|||||||||||"
    done >"$work/proxy.lst"
    printf '%s\n' http://127.0.0.1:8642/ppx.php?M=L http://proxies.example/list.html \
        http://free-proxy.example/today.txt >"$work/proxysources.lst"
    disp=":$((400 + RANDOM % 400))"
    Xvfb "$disp" -screen 0 "${size}x24" -dpi 96 -nolisten tcp >/dev/null 2>&1 & local x=$!
    sleep 1
    DISPLAY=$disp openbox >/dev/null 2>&1 & local wm=$!
    convert -size "$size" gradient:'#6d8bab-#2f4257' "$work/background.png"
    DISPLAY=$disp display -window root "$work/background.png" >/dev/null 2>&1 || true
    (cd "$work" && exec env -u QT_QPA_PLATFORMTHEME DISPLAY="$disp" QT_QPA_PLATFORM=xcb \
        XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" "$@" \
        "$top/build/bin/corvatel-scenes" -style Fusion $option "$scene") \
        >"$work/said" 2>"$work/log" & local app=$!
    for _ in $(seq 120); do grep -q '^ready' "$work/said" && break; sleep 0.5; done
    grep -q '^ready' "$work/said" || { echo "$scene did not get ready:" >&2; cat "$work/log" >&2; }
    sleep 1
    DISPLAY=$disp import -window root "$out/$name.png"
    echo "$out/$name.png"
    kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true
    kill "$wm" "$x" 2>/dev/null || true; wait "$wm" "$x" 2>/dev/null || true
    rm -rf "$work"
}

rm -f "$out"/*.png
for scene in service imported filter setup websource signup; do
    shoot 1280x800 "$scene-1280x800" "$scene"
done
for scene in imported filter setup; do
    shoot 1280x800 "$scene-1280x800-dark" "$scene" --dark
done
for scene in imported signup; do
    shoot 2560x1600 "$scene-2560x1600-2x" "$scene" "" QT_SCALE_FACTOR=2
done
