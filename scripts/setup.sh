#!/usr/bin/env bash
# Installs what the build needs when it is missing, then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libopenscenegraph-dev libopenscenegraph161 openscenegraph
          libcli11-dev nlohmann-json3-dev libgtest-dev qt6-base-dev libgl-dev fonts-noto-cjk
          fontconfig qt6-translations-l10n zlib1g-dev libpugixml-dev)
scripts/install-packages.sh "${packages[@]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
