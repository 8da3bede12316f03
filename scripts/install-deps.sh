#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test and
# benchmark. Uses sudo when not run as root.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang libclang-rt-14-dev
  qt6-base-dev libgl-dev fonts-wine
  zlib1g-dev libssl-dev openssl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  mariadb-server mariadb-client libmariadb-dev
  iproute2 procps
  python3
)
as_root=()
[ "$(id -u)" = 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  # mariadb-server's package scripts try to start a service; there is none
  # to start here, and the tests start their own server anyway.
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
