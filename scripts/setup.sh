#!/usr/bin/env bash
# Installs what the build needs when it is missing, then configures and builds.
# Usage: setup.sh [BUILD_DIR [CMAKE_OPTION...]]
# The C++ library's assertions are on (every container access checked) unless an option turns
# them off. Without arguments it builds build/, which ./test.sh and ./run.sh use; the
# benchmarks build build-bench/ without the assertions. BRINDLE_TARGETS, when set, names the
# only targets to build (./run.sh builds just the programs it runs).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libopenscenegraph-dev libopenscenegraph161 openscenegraph
          libcli11-dev nlohmann-json3-dev libgtest-dev qt6-base-dev libgl-dev fonts-noto-cjk
          fontconfig qt6-translations-l10n zlib1g-dev libpugixml-dev libproj-dev proj-data
          proj-bin
          libmeshoptimizer-dev libtinygltf-dev ccache xvfb xauth libgl1-mesa-dri)
scripts/install-packages.sh "${packages[@]}"
# What the web tests run (the Khronos glTF validator, CesiumJS and Chromium), where node's
# package manager is there.
if command -v npm >/dev/null; then
  scripts/web-setup.sh || echo "setup.sh: the web tests' tools are missing; those tests will fail" >&2
fi

dir="${1:-build}"
# Checkouts of the same tree share their compiled objects through ccache, where it is there.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBRINDLE_LIBSTDCXX_ASSERTIONS=ON \
  "${launcher[@]}" "${@:2}" >/dev/null
targets=()
for target in ${BRINDLE_TARGETS:-}; do
  targets+=(--target "$target")
done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
