#!/usr/bin/env bash
# Installs what is missing, builds a release build and opens Corvatel. Unless CORVATEL_SERVICE_URL
# points elsewhere, the bundled reference service is started in the background as the proxy-list
# service (and a local tinyproxy it lists as a working proxy); both stop when the program ends.
set -euo pipefail
cd "$(dirname "$0")"
top=$PWD
. scripts/deps.sh
install_deps xvfb xauth

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCORVATEL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    echo "No display found. Corvatel is a desktop program; to run it without one, use:" >&2
    echo "    xvfb-run -a ./run.sh" >&2
    exit 1
fi

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

if [ -z "${CORVATEL_SERVICE_URL:-}" ]; then
    state="$top/build/service"
    mkdir -p "$state"
    if port_free 8643 && command -v tinyproxy >/dev/null; then
        printf 'Port 8643\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nMaxClients 20\nLogLevel Critical\n' \
            >"$state/tinyproxy.conf"
        [ "$(id -u)" = 0 ] && printf 'User nobody\nGroup nogroup\n' >>"$state/tinyproxy.conf"
        tinyproxy -d -c "$state/tinyproxy.conf" >/dev/null 2>&1 & pids+=($!)
    fi
    if port_free 8642; then
        build/bin/corvatel-service --port 8642 \
            --list tools/service/data/sample-list.txt \
            --regions tools/service/data/regions.txt \
            --maillist "$state/maillist.txt" >"$state/service.log" 2>&1 & pids+=($!)
        for _ in $(seq 50); do port_free 8642 || break; sleep 0.1; done
    fi
fi

# In the background, so that a signal to this script reaches the trap at once.
build/bin/corvatel "$@" & pids+=($!)
wait "${pids[-1]}"
