#!/usr/bin/env bash
# Times the Windows build of brindle-export under Wine against the Linux build on the same
# tiles, to tell the fixed cost of a run (Wine's start, the workers' start) from the cost of
# each tile.
#
# Usage: scripts/windows/bench.sh [--runs N] [--tiles N]
#   --runs N   runs of each case, the best counted (default 3)
#   --tiles N  tiles in the larger small-tile folder (default 100)
#
# Builds what it runs: brindle-export.exe and brindle-tile-check.exe in build-windows/ (the
# whole cross build through build.sh the first time), and the Linux programs in build-bench/.
# The tiles are generated once into build-bench/wine-bench-data/: folders of 10 and N small
# tiles (about 80 KB, tiny raw textures) and one of 40 bench-sized tiles (1.2 to 3.7 MB, JPEG
# textures of 1024 to 1900 px); each platform exports its own copy of them. The wineserver is
# kept running for the whole bench (wineserver -p), so its start counts in no run; a run of a
# trivial program (brindle-tile-check.exe without arguments) is timed as the floor of any
# Wine run. Each case prints the best wall time of each platform, and each pair of folders the
# cost of a tile, (t(N) - t(10)) / (N - 10). Last, the indexes both builds wrote must be
# byte-identical. Takes about a minute once built and generated.
#
# Wine's prefix: BRINDLE_WINEPREFIX, else the one scripts/windows/test.sh uses.
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=3
tiles=100
while (($#)); do
  case $1 in
  --runs) runs=$2; shift 2 ;;
  --tiles) tiles=$2; shift 2 ;;
  *) echo "usage: $0 [--runs N] [--tiles N]" >&2; exit 2 ;;
  esac
done
if ((tiles <= 10)); then
  echo "bench.sh: --tiles takes more than 10" >&2
  exit 2
fi

if [[ ! -f build-windows/CMakeCache.txt ]]; then
  scripts/windows/build.sh >&2
fi
nice -n 19 cmake --build build-windows --parallel "${BRINDLE_JOBS:-2}" --target brindle-export \
  brindle-tile-check >/dev/null
BRINDLE_TARGETS="brindle-export brindle-tile-check brindle-sample" \
  scripts/setup.sh build-bench -DBRINDLE_LIBSTDCXX_ASSERTIONS=OFF >/dev/null

# shellcheck source=scripts/windows/wine-env.sh
source scripts/windows/wine-env.sh

# The tiles, made once. A sample block's deliberately broken folders are removed: every
# subfolder is a tile that loads.
data="$PWD/build-bench/wine-bench-data"
make_block() { # name tiles options...
  local folder="$data/$1" count=$2
  shift 2
  [[ -f "$folder/done" ]] && return
  rm -rf "$folder"
  build-bench/brindle-sample --tiles "$count" "$@" "$folder" >/dev/null
  rm -rf "$folder/Corrupt_Tile" "$folder/Empty_Tile" "$folder/Nested_Tile"
  touch "$folder/done"
}
make_block small-$tiles "$tiles" --min-texture 8 --max-texture 16
make_block large-40 40 --jpeg --min-texture 1024 --max-texture 1900
if [[ ! -f "$data/small-10/done" ]]; then
  rm -rf "$data/small-10"
  mkdir -p "$data/small-10"
  cp "$data/small-$tiles/report.txt" "$data/small-10/"
  find "$data/small-$tiles" -mindepth 1 -maxdepth 1 -type d -name 'Tile_*' | sort | head -n 10 |
    xargs -I{} cp -a {} "$data/small-10/"
  touch "$data/small-10/done"
fi

work="$(mktemp -d /tmp/brindle-wine-bench.XXXXXX)"
# Fails when a server is running already, which serves as well.
"$wineserver" -p 2>/dev/null || true
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for platform in linux windows; do
  mkdir -p "$work/$platform"
  for block in small-10 "small-$tiles" large-40; do
    cp -a "$data/$block" "$work/$platform/"
    rm -f "$work/$platform/$block/done"
  done
done
windows_path() { local p="$1"; echo "Z:${p//\//\\}"; }

# Best wall time of `runs` runs of a command, in seconds, after one run not counted (the
# first export of a folder writes its index; later ones examine the index they replace).
best_of() {
  local best="" start end took
  "$@" >/dev/null 2>&1 || true
  for ((r = 0; r < runs; r++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    took=$(((end - start) / 1000))
    if [[ -z $best ]] || ((took < best)); then best=$took; fi
  done
  awk -v us="$best" 'BEGIN { printf "%.3f", us / 1e6 }'
}

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
"$wine" build-windows/brindle-tile-check.exe >/dev/null 2>&1 || true # the prefix, warmed
echo "a trivial program under Wine (brindle-tile-check.exe, no arguments): $(best_of "$wine" \
  build-windows/brindle-tile-check.exe) s"
declare -A took
printf '%-26s %10s %10s\n' "case, best of $runs" "Wine" "Linux"
for jobs in 1 2; do
  for block in small-10 "small-$tiles" large-40; do
    took[windows,$jobs,$block]=$(best_of "$wine" build-windows/brindle-export.exe -q -j "$jobs" \
      "$(windows_path "$work/windows/$block")")
    took[linux,$jobs,$block]=$(best_of build-bench/brindle-export -q -j "$jobs" \
      "$work/linux/$block")
    printf '%-26s %9ss %9ss\n' "$block -j $jobs" "${took[windows,$jobs,$block]}" \
      "${took[linux,$jobs,$block]}"
  done
  for platform in windows linux; do
    awk -v a="${took[$platform,$jobs,small-10]}" -v b="${took[$platform,$jobs,small-$tiles]}" \
      -v n="$tiles" -v p="$platform" -v j="$jobs" \
      'BEGIN { printf "  a small tile at -j %d, %s: %.2f ms\n", j, p, (b - a) * 1000 / (n - 10) }'
  done
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

status=0
for block in small-10 "small-$tiles" large-40; do
  if ! cmp -s "$work/linux/$block/root.osgb" "$work/windows/$block/root.osgb"; then
    echo "FAIL: $block/root.osgb differs between the Linux and the Windows build" >&2
    status=1
  fi
done
((status == 0)) && echo "indexes byte-identical between the builds: PASS"
exit $status
