#!/usr/bin/env bash
# Builds the static meshoptimizer library (the overview's coarse meshes are simplified with it)
# with MinGW-w64, once, from Debian's source package, into a cache folder outside the work
# tree. Later runs find the stamp and return at once.
#
# Prints nothing but progress on stderr; the install prefix is
#   ${BRINDLE_CACHE:-/var/cache/brindle}/meshoptimizer-<version>-mingw/prefix
# with its CMake package under lib/cmake/meshoptimizer.
set -euo pipefail

meshoptimizer_version=0.18
cache="${BRINDLE_CACHE:-/var/cache/brindle}/meshoptimizer-${meshoptimizer_version}-mingw"
log_name="build-meshoptimizer"
# shellcheck source=scripts/windows/cross-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/cross-lib.sh"

cmake_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DMESHOPT_BUILD_SHARED_LIBS=OFF
  -DMESHOPT_BUILD_DEMO=OFF
  -DMESHOPT_BUILD_GLTFPACK=OFF
)
stamp_key="meshoptimizer ${meshoptimizer_version}; ${cmake_options[*]}; ${toolchain_key}"
if stamp_matches "$stamp_key"; then
  echo "$prefix"
  exit 0
fi

set_up_cross_build
mkdir -p "$cache"
src="$(fetch_source meshoptimizer "meshoptimizer-${meshoptimizer_version}*")"
rm -rf "$prefix"
cmake_install meshoptimizer "$src" "$cache/build" "$prefix" "${cmake_options[@]}"
for file in lib/libmeshoptimizer.a include/meshoptimizer.h \
  lib/cmake/meshoptimizer/meshoptimizerConfig.cmake; do
  [[ -f "$prefix/$file" ]] || { log "$file was not installed"; exit 1; }
done

write_stamp "$stamp_key"
echo "$prefix"
