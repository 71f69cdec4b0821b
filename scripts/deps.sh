# Sourced by run.sh and test.sh: installs the Debian packages the build needs, once.
# Usage: install_deps pkg...   (in addition to the common build packages)

corvatel_common_packages=(cmake g++ make qt6-base-dev qt6-httpserver-dev qt6-websockets-dev
                          libxkbcommon-dev libgl-dev tinyproxy
                          libglib2.0-bin gsettings-desktop-schemas libkf5config-bin dbus-daemon
                          desktop-file-utils pkg-config libcurl4-openssl-dev libmaxminddb-dev)

# What the tests need beyond the build: a private X server with a notification area (trayer) and
# real clicks into it (xdotool), for the tray icon's test.
# Real proxies of every type on loopback, a TLS judge's certificate, and the writer of the test
# location database.
corvatel_test_packages=(xvfb xauth trayer xdotool squid dante-server microsocks openssh-server
                        openssh-client openssl libmaxmind-db-writer-perl)

install_deps() {
    local missing=() p
    for p in "${corvatel_common_packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo_=()
    if [ "$(id -u)" != 0 ]; then
        command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
        sudo_=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo_[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
