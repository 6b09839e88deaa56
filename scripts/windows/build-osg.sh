#!/usr/bin/env bash
# Builds the static OpenSceneGraph libraries Brindle needs on Windows (OpenThreads, osg,
# osgUtil, osgDB, the osg plugin and the osg serializers) with MinGW-w64, once, into a cache
# folder outside the work tree. Later runs find the stamp and return at once.
#
# Prints nothing but progress on stderr; the install prefix is
#   ${BRINDLE_CACHE:-/var/cache/brindle}/osg-<version>-mingw/prefix
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"

osg_version=3.6.5
cache="${BRINDLE_CACHE:-/var/cache/brindle}/osg-${osg_version}-mingw"
prefix="$cache/prefix"
stamp="$cache/stamp"
jobs="${BRINDLE_JOBS:-2}"

# Everything that shapes the libraries goes into the stamp, so a change rebuilds them.
cxx_flags="-D_WIN32_WINNT=0x0601 -std=gnu++14"
cmake_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DDYNAMIC_OPENSCENEGRAPH=OFF
  -DDYNAMIC_OPENTHREADS=OFF
  -DBUILD_OSG_APPLICATIONS=OFF
  -DBUILD_OSG_EXAMPLES=OFF
  -DBUILD_OSG_PLUGINS_BY_DEFAULT=OFF
  -DBUILD_OSG_PLUGIN_OSG=ON
  -DOSG_USE_UTF8_FILENAME=ON
  -DOSG_DETERMINE_WIN_VERSION=OFF
  # Tiles are often zlib-compressed: the reader needs zlib, linked in statically.
  -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include
  -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a
  # CMake's try-run cannot probe the atomics when cross-compiling; MinGW has both.
  -D_OPENTHREADS_ATOMIC_USE_GCC_BUILTINS=1
  -D_OPENTHREADS_ATOMIC_USE_WIN32_INTERLOCKED=1
  -D_OPENTHREADS_ATOMIC_USE_MIPOSPRO_BUILTINS=0
  -D_OPENTHREADS_ATOMIC_USE_SUN=0
  -D_OPENTHREADS_ATOMIC_USE_BSD_ATOMIC=0
)
targets=(OpenThreads osg osgUtil osgDB osgdb_osg osgdb_serializers_osg)
stamp_key="osg ${osg_version}; ${cxx_flags}; ${cmake_options[*]}; ${targets[*]}; $(sha256sum "$toolchain" | cut -c1-16)"

if [[ -f "$stamp" && "$(cat "$stamp")" == "$stamp_key" ]]; then
  echo "$prefix"
  exit 0
fi

log() { echo "build-osg: $*" >&2; }

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 cmake make dpkg-dev xz-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# apt-get source needs a deb-src entry for the configured Debian archive: the same URIs and
# suites as its deb entry.
have_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}
updated=0
if ! have_src; then
  log "adding deb-src entries for the Debian archive"
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed -e 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      as_root tee /etc/apt/sources.list.d/brindle-src.sources >/dev/null
  elif [[ -f /etc/apt/sources.list ]]; then
    sed -n -e 's/^deb /deb-src /p' /etc/apt/sources.list |
      as_root tee /etc/apt/sources.list.d/brindle-src.list >/dev/null
  else
    log "no Debian apt sources found"; exit 1
  fi
  as_root apt-get update -qq
  updated=1
fi
if ((${#missing[@]})); then
  log "installing ${missing[*]}"
  ((updated)) || as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Use-Pty=0 \
    "${missing[@]}" >/dev/null
fi

mkdir -p "$cache"
src="$(find "$cache/src" -maxdepth 1 -type d -name "openscenegraph-${osg_version}*" 2>/dev/null | head -n1 || true)"
if [[ -z "$src" ]]; then
  log "fetching the OpenSceneGraph source"
  rm -rf "$cache/src"
  mkdir -p "$cache/src"
  # The package lists may predate the deb-src entry; then they are fetched once more.
  (cd "$cache/src" && apt-get source -qq openscenegraph >&2) ||
    { as_root apt-get update -qq && (cd "$cache/src" && apt-get source -qq openscenegraph >&2); }
  src="$(find "$cache/src" -maxdepth 1 -type d -name "openscenegraph-${osg_version}*" | head -n1)"
  [[ -n "$src" ]] || { log "apt-get source gave no openscenegraph-${osg_version}"; exit 1; }
fi

build="$cache/build"
rm -rf "$build" "$prefix"
log "configuring in $build"
cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_CXX_FLAGS="$cxx_flags" "${cmake_options[@]}" >"$cache/configure.log" 2>&1 ||
  { tail -n 40 "$cache/configure.log" >&2; exit 1; }
log "building ${targets[*]} (log: $cache/build.log)"
nice -n 19 cmake --build "$build" --parallel "$jobs" --target "${targets[@]}" \
  >"$cache/build.log" 2>&1 || { tail -n 40 "$cache/build.log" >&2; exit 1; }

# Only part of OpenSceneGraph is built, so its install rule cannot be used: copy the headers
# of the built libraries (source and generated) and the archives.
mkdir -p "$prefix/include" "$prefix/lib"
for dir in OpenThreads osg osgDB osgUtil; do
  cp -r "$src/include/$dir" "$prefix/include/"
  [[ -d "$build/include/$dir" ]] && cp -r "$build/include/$dir" "$prefix/include/"
done
find "$build" -name '*.a' -exec cp {} "$prefix/lib/" \;
for lib in OpenThreads osg osgUtil osgDB osgdb_osg osgdb_serializers_osg; do
  [[ -f "$prefix/lib/lib$lib.a" ]] || { log "lib$lib.a was not built"; exit 1; }
done

echo "$stamp_key" >"$stamp"
log "installed into $prefix"
echo "$prefix"
