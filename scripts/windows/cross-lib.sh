# shellcheck shell=bash
# The settings below are for the sourcing script; it sets `cache` and `log_name`.
# shellcheck disable=SC2034,SC2154
# Sourced by the scripts that build the static libraries of the Windows build (build-osg.sh,
# build-proj.sh, build-image-libs.sh, build-meshoptimizer.sh): each builds its libraries with
# MinGW-w64 once, from Debian's source packages, into a folder of its own under
# ${BRINDLE_CACHE:-/var/cache/brindle}, and names the stamp of what it built there.
#
# The sourcing script sets `log_name` and `cache` (its folder) first; it gets the settings
# below and the functions to set up the cross compilers, fetch sources, and build and install
# a CMake project.

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"
triplet=x86_64-w64-mingw32
jobs="${BRINDLE_JOBS:-2}"
prefix="$cache/prefix"
stamp="$cache/stamp"
# The toolchain shapes every library, so it is in every stamp.
toolchain_key="$(sha256sum "$toolchain" | cut -c1-16)"

log() { echo "$log_name: $*" >&2; }

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

# Whether the libraries in $cache were built with what `key` says: then the script prints the
# prefix and is done.
stamp_matches() {
  [[ -f "$stamp" && "$(cat "$stamp")" == "$1" ]]
}

write_stamp() {
  echo "$1" >"$stamp"
  log "installed into $prefix"
}

# apt-get source needs a deb-src entry for the configured Debian archive: the same URIs and
# suites as its deb entry.
have_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}

# The cross compilers, Wine, the tools the libraries' builds run, and the deb-src entries;
# installed only where missing; the arguments name more packages.
# shellcheck disable=SC2120 # most scripts need no more
set_up_cross_build() {
  local packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 cmake make dpkg-dev
    xz-utils "$@")
  local missing=() p updated=0
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ! have_src; then
    log "adding deb-src entries for the Debian archive"
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
      sed -e 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        as_root tee /etc/apt/sources.list.d/brindle-src.sources >/dev/null
    elif [[ -f /etc/apt/sources.list ]]; then
      sed -n -e 's/^deb /deb-src /p' /etc/apt/sources.list |
        as_root tee /etc/apt/sources.list.d/brindle-src.list >/dev/null
    else
      log "no Debian apt sources found"
      exit 1
    fi
    as_root apt-get update -qq
    updated=1
  fi
  if ((${#missing[@]})); then
    log "installing ${missing[*]}"
    ((updated)) || as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      -o Dpkg::Use-Pty=0 "${missing[@]}" >/dev/null
  fi
}

# apt-get source of a package, newest version first: a security update's listing can name a
# version the archive no longer serves, and then the one before it is taken.
apt_source() {
  local package="$1" version
  apt-get source -qq "$package" >&2 && return 0
  while read -r version; do
    log "apt-get source $package gave nothing; trying $version"
    apt-get source -qq "$package=$version" >&2 && return 0
  done < <(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -Vru)
  return 1
}

# One Debian source package, fetched once into `into` (a folder of its own, $cache/src/<package>
# unless given); prints the unpacked folder, whose name matches `pattern`.
#   fetch_source PACKAGE PATTERN [INTO]
fetch_source() {
  local package="$1" pattern="$2" into="${3:-$cache/src/$1}" dir
  dir="$(find "$into" -maxdepth 1 -type d -name "$pattern" 2>/dev/null | head -n1 || true)"
  if [[ -z "$dir" ]]; then
    log "fetching the $package source"
    rm -rf "$into"
    mkdir -p "$into"
    # The package lists may predate the deb-src entry; then they are fetched once more.
    (cd "$into" && apt_source "$package") ||
      { as_root apt-get update -qq && (cd "$into" && apt_source "$package"); }
    dir="$(find "$into" -maxdepth 1 -type d -name "$pattern" | head -n1)"
    [[ -n "$dir" ]] || { log "apt-get source gave no $pattern"; exit 1; }
  fi
  echo "$dir"
}

# Configures, builds and installs a CMake project for Windows into `install_prefix`, in a
# fresh build folder, logging to $cache/<name>.log.
#   cmake_install NAME SOURCE BUILD INSTALL_PREFIX CMAKE_OPTIONS...
cmake_install() {
  local name="$1" source="$2" build="$3" install_prefix="$4"
  shift 4
  local log_file="$cache/$name.log"
  rm -rf "$build"
  log "building $name (log: $log_file)"
  { cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$install_prefix" "$@" &&
    nice -n 19 cmake --build "$build" --parallel "$jobs" &&
    cmake --install "$build"; } >"$log_file" 2>&1 ||
    { tail -n 40 "$log_file" >&2; exit 1; }
}
