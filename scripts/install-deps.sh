#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and only those missing.
set -euo pipefail
packages=(
  g++ cmake ninja-build make pkg-config clang-format
  libsqlcipher-dev sqlcipher zlib1g-dev libcurl4-openssl-dev libcpp-httplib-dev libssl-dev
  libpq-dev postgresql
  qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  xvfb xdotool xauth curl imagemagick chromium prometheus
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
