#!/usr/bin/env bash
# Installs every build and test dependency that is missing (Debian packages).
# Idempotent; runs apt-get as root, through sudo otherwise.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libgcrypt20-dev libsqlite3-dev sqlite3 libclang-rt-14-dev
  libcpp-httplib-dev nlohmann-json3-dev
  g++-mingw-w64-i686 libgcrypt-mingw-w64-dev libz-mingw-w64-dev
  libgtk-3-dev libgtksourceview-4-dev libxtst-dev xvfb xauth fonts-liberation
  libedit-dev
  python3 nginx curl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
