#!/usr/bin/env bash
# Builds the static PROJ library (and the SQLite it reads its database with) that Brindle's
# Windows programs identify spatial references with, with MinGW-w64, once, from Debian's
# source packages, into a cache folder outside the work tree. proj.db is made natively with
# the system's sqlite3 and installed under the prefix's share/proj; build.sh ships it beside
# the programs. Later runs find the stamp and return at once.
#
# Prints nothing but progress on stderr; the install prefix is
#   ${BRINDLE_CACHE:-/var/cache/brindle}/proj-<version>-mingw/prefix
set -euo pipefail

proj_version=9.1.1
sqlite_version=3.40.1
cache="${BRINDLE_CACHE:-/var/cache/brindle}/proj-${proj_version}-mingw"
log_name="build-proj"
# shellcheck source=scripts/windows/cross-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/cross-lib.sh"

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
stamp_key="proj ${proj_version}; sqlite ${sqlite_version}; ${sqlite_flags}; ${cmake_options[*]}; ${toolchain_key}"

if stamp_matches "$stamp_key"; then
  echo "$prefix"
  exit 0
fi

# The amalgamated sqlite3.c is generated with tclsh, proj.db with sqlite3.
set_up_cross_build tcl sqlite3
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

cmake_install PROJ "$proj_src" "$cache/build" "$prefix" \
  -DSQLITE3_INCLUDE_DIR="$prefix/include" -DSQLITE3_LIBRARY="$prefix/lib/libsqlite3.a" \
  "${cmake_options[@]}"
for file in lib/libproj.a include/proj.h share/proj/proj.db; do
  [[ -f "$prefix/$file" ]] || { log "$file was not installed"; exit 1; }
done

write_stamp "$stamp_key"
echo "$prefix"
