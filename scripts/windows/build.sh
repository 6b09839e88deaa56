#!/usr/bin/env bash
# Cross-builds Brindle for 64-bit Windows with MinGW-w64 into build-windows/: the export
# library, brindle-tile-check.exe, brindle-export.exe, brindle-sample.exe and the test
# programs, all statically linked (no DLLs needed beside them).
set -euo pipefail
cd "$(dirname "$0")/../.."

osg_prefix="$(scripts/windows/build-osg.sh)"

# GoogleTest is compiled from Debian's sources, CLI11 is header-only.
packages=(googletest libcli11-dev nlohmann-json3-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "build.sh: installing ${missing[*]}" >&2
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S . -B build-windows \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DBRINDLE_OSG_PREFIX="$osg_prefix" >/dev/null
nice -n 19 cmake --build build-windows --parallel "${BRINDLE_JOBS:-2}"
