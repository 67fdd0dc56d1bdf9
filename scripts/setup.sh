#!/usr/bin/env bash
# Installs every package Flashwright needs on Debian 12 and builds it (Release) into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2046
$SUDO apt-get install -y -qq --no-install-recommends $(grep -v '^#' scripts/deps.txt) >/dev/null
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
