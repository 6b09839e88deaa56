#!/usr/bin/env bash
# Builds the static PROJ library (and the SQLite it reads its database with) that Brindle's
# Windows programs identify spatial references with, with MinGW-w64, once, from Debian's
# source packages, into a cache folder outside the work tree. proj.db is made natively with
# the system's sqlite3 and installed under the prefix's share/proj; build.sh ships it beside
# the programs. Later runs find the stamp and return at once.
#
# Prints nothing but progress on stderr; the install prefix is
#   ${BRINDLE_CACHE:-/var/cache/brindle}/proj-<version>-mingw/prefix
# build-osg.sh must have run first: it sets up the deb-src entries and the cross compilers.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"

proj_version=9.1.1
sqlite_version=3.40.1
cache="${BRINDLE_CACHE:-/var/cache/brindle}/proj-${proj_version}-mingw"
prefix="$cache/prefix"
stamp="$cache/stamp"
jobs="${BRINDLE_JOBS:-2}"
triplet=x86_64-w64-mingw32

# SQLite: threads as the worker pool uses them, no extensions loaded from disk.
sqlite_flags="-O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_DQS=0"
cmake_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF
  -DENABLE_TIFF=OFF
  -DENABLE_CURL=OFF
  -DBUILD_APPS=OFF
  -DBUILD_TESTING=OFF
  -DBUILD_PROJSYNC=OFF
  -DNLOHMANN_JSON_ORIGIN=internal
  # proj.db is made by running SQL scripts: natively, with the system's sqlite3.
  -DEXE_SQLITE3=/usr/bin/sqlite3
)
stamp_key="proj ${proj_version}; sqlite ${sqlite_version}; ${sqlite_flags}; ${cmake_options[*]}; $(sha256sum "$toolchain" | cut -c1-16)"

if [[ -f "$stamp" && "$(cat "$stamp")" == "$stamp_key" ]]; then
  echo "$prefix"
  exit 0
fi

log() { echo "build-proj: $*" >&2; }

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

# The amalgamated sqlite3.c is generated with tclsh, proj.db with sqlite3.
packages=(tcl sqlite3 g++-mingw-w64-x86-64-posix cmake make dpkg-dev xz-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  log "installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o Dpkg::Use-Pty=0 "${missing[@]}" >/dev/null
fi

# One Debian source package, fetched once into $cache/src/<name>.
fetch_source() {
  local package="$1" pattern="$2" dir
  dir="$(find "$cache/src/$package" -maxdepth 1 -type d -name "$pattern" 2>/dev/null | head -n1 || true)"
  if [[ -z "$dir" ]]; then
    log "fetching the $package source"
    rm -rf "$cache/src/$package"
    mkdir -p "$cache/src/$package"
    (cd "$cache/src/$package" && apt-get source -qq "$package" >&2) ||
      { as_root apt-get update -qq && (cd "$cache/src/$package" && apt-get source -qq "$package" >&2); }
    dir="$(find "$cache/src/$package" -maxdepth 1 -type d -name "$pattern" | head -n1)"
    [[ -n "$dir" ]] || { log "apt-get source gave no $pattern"; exit 1; }
  fi
  echo "$dir"
}
mkdir -p "$cache"
sqlite_src="$(fetch_source sqlite3 "sqlite3-${sqlite_version}*")"
proj_src="$(fetch_source proj "proj-${proj_version}*")"

rm -rf "$cache/sqlite-build" "$cache/build" "$prefix"
mkdir -p "$prefix/include" "$prefix/lib" "$cache/sqlite-build"

# SQLite: the amalgamation is generated natively, then compiled for Windows.
log "generating sqlite3.c (log: $cache/sqlite.log)"
(cd "$cache/sqlite-build" && "$sqlite_src/configure" --disable-shared >"$cache/sqlite.log" 2>&1 &&
  nice -n 19 make sqlite3.c >>"$cache/sqlite.log" 2>&1) ||
  { tail -n 40 "$cache/sqlite.log" >&2; exit 1; }
log "compiling SQLite for Windows"
# shellcheck disable=SC2086 # the flags are words
nice -n 19 "$triplet-gcc-posix" $sqlite_flags -c "$cache/sqlite-build/sqlite3.c" \
  -o "$cache/sqlite-build/sqlite3.o" >>"$cache/sqlite.log" 2>&1 ||
  { tail -n 40 "$cache/sqlite.log" >&2; exit 1; }
"$triplet-ar" rcs "$prefix/lib/libsqlite3.a" "$cache/sqlite-build/sqlite3.o"
cp "$cache/sqlite-build/sqlite3.h" "$prefix/include/"

log "configuring PROJ in $cache/build"
cmake -S "$proj_src" -B "$cache/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DSQLITE3_INCLUDE_DIR="$prefix/include" -DSQLITE3_LIBRARY="$prefix/lib/libsqlite3.a" \
  "${cmake_options[@]}" >"$cache/configure.log" 2>&1 ||
  { tail -n 40 "$cache/configure.log" >&2; exit 1; }
log "building PROJ (log: $cache/build.log)"
nice -n 19 cmake --build "$cache/build" --parallel "$jobs" >"$cache/build.log" 2>&1 ||
  { tail -n 40 "$cache/build.log" >&2; exit 1; }
cmake --install "$cache/build" >>"$cache/build.log" 2>&1 ||
  { tail -n 40 "$cache/build.log" >&2; exit 1; }
for file in lib/libproj.a include/proj.h share/proj/proj.db; do
  [[ -f "$prefix/$file" ]] || { log "$file was not installed"; exit 1; }
done

echo "$stamp_key" >"$stamp"
log "installed into $prefix"
echo "$prefix"
