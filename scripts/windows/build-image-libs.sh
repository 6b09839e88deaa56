#!/usr/bin/env bash
# Builds the static JPEG and PNG libraries (libjpeg-turbo, libpng) that the scene-graph
# library's jpeg and png plugins encode and decode textures with, with MinGW-w64, once, from
# Debian's source packages, into a cache folder outside the work tree; zlib is MinGW-w64's
# from Debian (libz-mingw-w64-dev), as the scene-graph library's own. Later runs find the stamp
# and return at once.
#
# Prints nothing but progress on stderr; the install prefix, with include/ and lib/libjpeg.a
# and lib/libpng16.a, is
#   ${BRINDLE_CACHE:-/var/cache/brindle}/image-libs-mingw/prefix
set -euo pipefail

jpeg_version=2.1.5
png_version=1.6.39
cache="${BRINDLE_CACHE:-/var/cache/brindle}/image-libs-mingw"
log_name="build-image-libs"
# shellcheck source=scripts/windows/cross-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/cross-lib.sh"

zlib_options=(
  "-DZLIB_INCLUDE_DIR=/usr/$triplet/include"
  "-DZLIB_LIBRARY=/usr/$triplet/lib/libz.a"
)
# Textures are decoded by every tile-check worker: the SIMD decoder is required, not hoped for
# (it needs NASM).
jpeg_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DENABLE_SHARED=OFF
  -DENABLE_STATIC=ON
  -DWITH_TURBOJPEG=OFF
  -DWITH_SIMD=ON
  -DREQUIRE_SIMD=ON
  -DCMAKE_ASM_NASM_COMPILER=/usr/bin/nasm
)
png_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DPNG_SHARED=OFF
  -DPNG_STATIC=ON
  -DPNG_EXECUTABLES=OFF
  -DPNG_TESTS=OFF
  "${zlib_options[@]}"
)
stamp_key="libjpeg-turbo ${jpeg_version}; ${jpeg_options[*]}; libpng ${png_version}; ${png_options[*]}; ${toolchain_key}"
if stamp_matches "$stamp_key"; then
  echo "$prefix"
  exit 0
fi

set_up_cross_build nasm
mkdir -p "$cache"
jpeg_src="$(fetch_source libjpeg-turbo "libjpeg-turbo-${jpeg_version}*")"
png_src="$(fetch_source libpng1.6 "libpng1.6-${png_version}*")"
rm -rf "$prefix"
cmake_install libjpeg-turbo "$jpeg_src" "$cache/jpeg-build" "$prefix" "${jpeg_options[@]}"
cmake_install libpng "$png_src" "$cache/png-build" "$prefix" "${png_options[@]}"
for file in lib/libjpeg.a include/jpeglib.h lib/libpng16.a include/png.h; do
  [[ -f "$prefix/$file" ]] || { log "$file was not installed"; exit 1; }
done

write_stamp "$stamp_key"
echo "$prefix"
