#!/usr/bin/env bash
# Installs every Debian package Tallowin needs to build, test, benchmark and fuzz.
# Idempotent: packages already present are left alone; `apt-get update` runs only
# when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev clang-format
  libssl-dev nlohmann-json3-dev libicu-dev liburiparser-dev
  libsecret-1-dev libdbus-1-dev libglib2.0-dev
  qt6-base-dev qcoro-qt6-dev libxkbcommon-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  oathtool
  dbus dbus-daemon gnome-keyring libsecret-tools
  syncthing python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
