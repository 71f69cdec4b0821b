#!/usr/bin/env bash
# Installs the Debian package into a clean Debian 12 root and starts Corvatel there the way the
# desktop menu does, on a virtual screen of this machine:
#   scripts/check-package.sh ROOT PACKAGE.deb [WIDTHxHEIGHT]
# ROOT is made with "debootstrap --variant=minbase bookworm ROOT" if it does not exist. The
# check pastes a proxy into the imported list and tests it, then shows where proxy.lst landed and leaves a
# screenshot in ROOT/../menu-start.png. Then corvatel-check tests the same proxy without a display. Needs root (chroot, mount), xvfb, openbox, xdotool, xclip
# and imagemagick on this machine.
set -euo pipefail
root=$(realpath -m "$1") deb=$(realpath "$2") size=${3:-1280x800}
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 1; }
[ -d "$root/usr" ] || debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
cp /etc/resolv.conf "$root/etc/resolv.conf"
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
mkdir -p "$root/tmp/.X11-unix"
mountpoint -q "$root/tmp/.X11-unix" || mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    umount "$root/tmp/.X11-unix" "$root/proc" 2>/dev/null || true
}
pids=()
trap cleanup EXIT

cp "$deb" "$root/tmp/"
chroot "$root" sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/$(basename "$deb") >/dev/null"
echo "installed: $(chroot "$root" dpkg-query -W corvatel)"

disp=:$((300 + RANDOM % 300))
Xvfb "$disp" -screen 0 "${size}x24" -dpi 96 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
sleep 1
DISPLAY=$disp openbox >/dev/null 2>&1 & pids+=($!)
sleep 0.5

# The menu entry's command exactly as installed, for a user who never ran the program.
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/corvatel.desktop")
echo "Exec=$exec_line"
rm -rf "$root/home/tester"
mkdir -p "$root/home/tester"
chroot "$root" env -i HOME=/home/tester DISPLAY="$disp" PATH=/usr/bin:/bin \
    sh -c "cd /home/tester && exec $exec_line" >"$root/../menu-start.log" 2>&1 & pids+=($!)
sleep 4
win=$(DISPLAY=$disp xdotool search --sync --onlyvisible --name "Product Updates" | tail -1)
DISPLAY=$disp xdotool windowactivate --sync "$win" key Escape   # the first-run sign-up dialog
sleep 2
win=$(DISPLAY=$disp xdotool search --onlyvisible --name "Corvatel - version" | tail -1)
printf '127.0.0.1:8642\n' | DISPLAY=$disp xclip -selection clipboard
DISPLAY=$disp xdotool windowactivate --sync "$win" mousemove --window "$win" 110 40 click 1
sleep 1
DISPLAY=$disp xdotool mousemove --window "$win" 300 120 click 1 key ctrl+v
sleep 1
# Test the pasted proxy (the session's own service answers as a proxy too).
DISPLAY=$disp xdotool mousemove --window "$win" 300 78 click 1 key ctrl+t
sleep 3
DISPLAY=$disp import -window root "$root/../menu-start.png"
echo "screenshot: $(realpath "$root/../menu-start.png")"
echo "data folder of the menu start:"
ls -la "$root/home/tester/.local/share/Corvatel/"
echo "proxy.lst:"
cat "$root/home/tester/.local/share/Corvatel/proxy.lst"
echo "service started for the session:"
pgrep -a -f "^/usr/bin/corvatel" || true
echo "corvatel-check, without a display:"
chroot "$root" env -i HOME=/home/tester PATH=/usr/bin:/bin corvatel-check --version
printf '127.0.0.1:8642\n' | chroot "$root" env -i HOME=/home/tester PATH=/usr/bin:/bin \
    corvatel-check -t 10 -f csv || echo "corvatel-check: status $?"
