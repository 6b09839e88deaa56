#!/usr/bin/env bash
# Installs what the build needs when it is missing, then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libopenscenegraph-dev libopenscenegraph161 openscenegraph
          libcli11-dev nlohmann-json3-dev libgtest-dev qt6-base-dev libgl-dev fonts-noto-cjk
          fontconfig qt6-translations-l10n zlib1g-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
