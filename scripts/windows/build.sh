#!/usr/bin/env bash
# Cross-builds Brindle for 64-bit Windows with MinGW-w64 into build-windows/: the export
# library, brindle.exe (the dialog), brindle-tile-check.exe, brindle-export.exe,
# brindle-sample.exe and the test programs, all statically linked (no DLLs needed beside
# them), then packs the three programs a user needs with a read-me into
# build-windows/brindle-<version>-windows-x64.zip.
set -euo pipefail
cd "$(dirname "$0")/../.."

osg_prefix="$(scripts/windows/build-osg.sh)"
# PROJ (and its SQLite) identify metadata.xml's SRS; built once, as OpenSceneGraph is.
proj_prefix="$(scripts/windows/build-proj.sh)"
# meshoptimizer simplifies the overview's coarse meshes.
meshoptimizer_prefix="$(scripts/windows/build-meshoptimizer.sh)"

# GoogleTest is compiled from Debian's sources; CLI11, nlohmann's JSON library and the glTF
# library (the tile-check worker's 3D Tiles content) are header-only, and only their headers
# are copied into the build folder (cmake/mingw/cross_build.cmake).
packages=(googletest libcli11-dev nlohmann-json3-dev libtinygltf-dev)
scripts/install-packages.sh --no-install-recommends "${packages[@]}"

# pugixml (metadata.xml) is compiled with the programs from Debian's source, fetched once;
# build-osg.sh has set up the deb-src entries apt-get source needs.
pugixml_cache="${BRINDLE_CACHE:-/var/cache/brindle}/pugixml-src"
if ! compgen -G "$pugixml_cache/pugixml-*/src/pugixml.cpp" >/dev/null; then
  rm -rf "$pugixml_cache"
  mkdir -p "$pugixml_cache"
  (cd "$pugixml_cache" && apt-get source -qq pugixml >&2)
fi
pugixml_src="$(compgen -G "$pugixml_cache/pugixml-*/src/pugixml.cpp" | head -n1)"
pugixml_src="${pugixml_src%/src/pugixml.cpp}"

# Checkouts of the same tree share their compiled objects through ccache, where it is there.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-windows "${launcher[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DBRINDLE_OSG_PREFIX="$osg_prefix" \
  -DPROJ_DIR="$proj_prefix/lib/cmake/proj" \
  -Dmeshoptimizer_DIR="$meshoptimizer_prefix/lib/cmake/meshoptimizer" \
  -DBRINDLE_PUGIXML_SOURCE="$pugixml_src" >/dev/null
nice -n 19 cmake --build build-windows --parallel "${BRINDLE_JOBS:-2}"

# The package: the programs must stay together (the export starts brindle-tile-check.exe from
# beside itself, and PROJ reads proj.db from beside the programs). The read-me is for
# Notepad: UTF-8 with a byte-order mark, CRLF line ends.
version="$(sed -n 's/^project(Brindle VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
package="build-windows/brindle-${version}-windows-x64.zip"
staging="build-windows/package"
rm -rf "$staging" "$package"
mkdir -p "$staging"
cp build-windows/brindle.exe build-windows/brindle-export.exe build-windows/brindle-tile-check.exe \
  build-windows/proj.db "$staging/"
{
  printf '\xef\xbb\xbf'
  sed -e "s/@VERSION@/${version}/" -e 's/$/\r/' ui/win32/readme_zh.txt
} >"$staging/自述.txt"
# Python's zipfile marks the Chinese name as UTF-8, which Windows' Explorer honours; Info-ZIP
# leaves it unmarked, and Explorer would read it in the local code page.
python3 - "$staging" "$package" brindle.exe brindle-export.exe brindle-tile-check.exe proj.db \
  自述.txt <<'PY'
import pathlib, sys, zipfile
staging, package, *names = sys.argv[1:]
with zipfile.ZipFile(package, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in names:
        archive.write(pathlib.Path(staging) / name, name)
PY
echo "build.sh: packed $package" >&2
