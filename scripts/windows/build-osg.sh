#!/usr/bin/env bash
# Builds the static OpenSceneGraph libraries Brindle needs on Windows (OpenThreads, osg,
# osgUtil, osgDB, the osg plugin and the osg serializers, and the jpeg and png plugins that
# encode and decode textures, over the libraries build-image-libs.sh builds) with MinGW-w64,
# once, into a cache folder outside the work tree. Later runs find the stamp and return at once.
#
# Prints nothing but progress on stderr; the install prefix is
#   ${BRINDLE_CACHE:-/var/cache/brindle}/osg-<version>-images-mingw/prefix
set -euo pipefail

osg_version=3.6.5
# The folder names the image plugins: a build without them, by an older copy of this script,
# keeps a folder of its own rather than taking this one over.
cache="${BRINDLE_CACHE:-/var/cache/brindle}/osg-${osg_version}-images-mingw"
log_name="build-osg"
# shellcheck source=scripts/windows/cross-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/cross-lib.sh"

if ! image_prefix="$("$repo/scripts/windows/build-image-libs.sh")"; then
  log "the JPEG and PNG libraries were not built"
  exit 1
fi

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
  -DBUILD_OSG_PLUGIN_JPEG=ON
  -DBUILD_OSG_PLUGIN_PNG=ON
  -DOSG_USE_UTF8_FILENAME=ON
  -DOSG_DETERMINE_WIN_VERSION=OFF
  # Tiles are often zlib-compressed: the reader needs zlib, linked in statically.
  "-DZLIB_INCLUDE_DIR=/usr/$triplet/include"
  "-DZLIB_LIBRARY=/usr/$triplet/lib/libz.a"
  # Textures: embedded JPEG and PNG images are encoded and decoded by the plugins.
  -DJPEG_INCLUDE_DIR="$image_prefix/include"
  -DJPEG_LIBRARY="$image_prefix/lib/libjpeg.a"
  -DPNG_PNG_INCLUDE_DIR="$image_prefix/include"
  -DPNG_LIBRARY="$image_prefix/lib/libpng16.a"
  # CMake's try-run cannot probe the atomics when cross-compiling; MinGW has both.
  -D_OPENTHREADS_ATOMIC_USE_GCC_BUILTINS=1
  -D_OPENTHREADS_ATOMIC_USE_WIN32_INTERLOCKED=1
  -D_OPENTHREADS_ATOMIC_USE_MIPOSPRO_BUILTINS=0
  -D_OPENTHREADS_ATOMIC_USE_SUN=0
  -D_OPENTHREADS_ATOMIC_USE_BSD_ATOMIC=0
)
targets=(OpenThreads osg osgUtil osgDB osgdb_osg osgdb_serializers_osg osgdb_jpeg osgdb_png)
# What the prefix's lib/ holds: the targets' archives and the image libraries.
libraries=("${targets[@]}" jpeg png16)
stamp_key="osg ${osg_version}; ${cxx_flags}; ${cmake_options[*]}; ${libraries[*]}; $(cat "$(dirname "$image_prefix")/stamp"); ${toolchain_key}"

if stamp_matches "$stamp_key"; then
  echo "$prefix"
  exit 0
fi

set_up_cross_build
mkdir -p "$cache"
src="$(fetch_source openscenegraph "openscenegraph-${osg_version}*" "$cache/src")"

build="$cache/build"
rm -rf "$prefix"
# The build folder is kept: what changed is rebuilt, the rest is not (a plugin more costs a
# minute, not the ten a whole build takes). Its settings are not: every one is given again.
rm -f "$build/CMakeCache.txt"
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
# The plugins' own libraries go with them, so a program links all from one folder.
cp "$image_prefix/lib/libjpeg.a" "$image_prefix/lib/libpng16.a" "$prefix/lib/"
for lib in "${libraries[@]}"; do
  [[ -f "$prefix/lib/lib$lib.a" ]] || { log "lib$lib.a was not built"; exit 1; }
done

write_stamp "$stamp_key"
echo "$prefix"
