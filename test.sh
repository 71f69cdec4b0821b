#!/usr/bin/env bash
# Installs what is missing, builds Corvatel with its tests and runs them all.
# CORVATEL_SANITIZE=1 ./test.sh builds and runs them under AddressSanitizer + UBSan instead.
# CORVATEL_UI=0 builds the core, the service and the tests that need no widgets only (build-core).
# CORVATEL_WERROR=1 turns warnings into errors.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
install_deps "${corvatel_test_packages[@]}" appstream dpkg-dev file

dir=build
args=(-DCMAKE_BUILD_TYPE=Release -DCORVATEL_BUILD_TESTS=ON -DCORVATEL_SANITIZE=OFF)
if [ "${CORVATEL_SANITIZE:-0}" = 1 ]; then
    dir=build-sanitize
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVATEL_BUILD_TESTS=ON -DCORVATEL_SANITIZE=ON)
fi
if [ "${CORVATEL_UI:-1}" = 0 ]; then
    dir=$dir-core
    args+=(-DCORVATEL_UI=OFF)
else
    args+=(-DCORVATEL_UI=ON)
fi
if [ "${CORVATEL_WERROR:-0}" = 1 ]; then
    args+=(-DCORVATEL_WERROR=ON)
else
    args+=(-DCORVATEL_WERROR=OFF)
fi
cmake -S . -B "$dir" "${args[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
ctest --output-on-failure -j"$(nproc)"
