#!/usr/bin/env bash
# Builds everything, then runs the validation benchmark, the viewer benchmark
# (./bench-viewer.sh: the proxy index against the paged index in an offscreen viewer), the
# overview benchmark (./bench-overview.sh: the overview index's far view, first frame, building
# and close views against the proxy and paged indexes, and its pyramid on tiles with written
# finer levels), the start-up benchmark (./bench-startup.sh:
# brindle-export's start against the worker's, an unchanged re-run against the first run) and
# the 3D Tiles export benchmark (./bench-tileset.sh: the conversion's rate, a re-run with 1%
# of the tiles touched, the exporter's memory at 10^5 tiles) and the web benchmark
# (./bench-web.sh: a 3D Tiles tileset's requests in CesiumJS).
# Arguments go to the validation benchmark, e.g. ./bench.sh --quick (or BRINDLE_BENCH_QUICK=1
# ./bench.sh) for small data sets; --quick also gives the viewer and overview benchmarks
# smaller blocks.
# The cold-cache runs drop the system's page cache, which needs root; elsewhere they are
# skipped. Each target is reported on a PASS or FAIL line; the exit status is 1 only when a
# benchmark could not run.
set -euo pipefail
cd "$(dirname "$0")"
# Its own build, without the assertions the test build checks containers with.
scripts/setup.sh build-bench -DBRINDLE_LIBSTDCXX_ASSERTIONS=OFF >/dev/null
# The exporter's peak memory is measured with GNU time.
scripts/install-packages.sh time
viewer_args=()
for arg in "$@"; do
  if [[ $arg == --quick ]]; then
    viewer_args+=(--quick)
  fi
done

status=0
build-bench/brindle-bench "$@" || status=1
echo
# Each further benchmark exits with 1 when it misses a target, which its FAIL lines say, and
# with 2 when it cannot run; only the latter fails this script.
run_benchmark() {
  local script=$1 name=$2 code=0
  "./$script" "${viewer_args[@]}" || code=$?
  if ((code > 1)); then
    echo "bench.sh: the $name benchmark did not run to its end (status $code)" >&2
    status=1
  fi
  echo
}
run_benchmark bench-viewer.sh viewer
run_benchmark bench-overview.sh overview
run_benchmark bench-startup.sh start-up
run_benchmark bench-tileset.sh "3D Tiles export"
run_benchmark bench-web.sh web
exit "$status"
