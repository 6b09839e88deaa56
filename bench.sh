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
# The viewer benchmark exits with 1 when it misses a target, which its FAIL lines say, and
# with 2 when it cannot run.
viewer=0
./bench-viewer.sh "${viewer_args[@]}" || viewer=$?
if ((viewer > 1)); then
  echo "bench.sh: the viewer benchmark did not run to its end (status $viewer)" >&2
  status=1
fi
echo
# The overview benchmark likewise: 1 for a missed target, 2 when it cannot run.
overview=0
./bench-overview.sh "${viewer_args[@]}" || overview=$?
if ((overview > 1)); then
  echo "bench.sh: the overview benchmark did not run to its end (status $overview)" >&2
  status=1
fi
echo
# The start-up benchmark: its FAIL lines say a missed target; 2 when it cannot run.
startup=0
./bench-startup.sh "${viewer_args[@]}" || startup=$?
if ((startup > 1)); then
  echo "bench.sh: the start-up benchmark did not run to its end (status $startup)" >&2
  status=1
fi
echo
# The 3D Tiles export benchmark: its FAIL lines say a missed target; 2 when it cannot run.
tileset=0
./bench-tileset.sh "${viewer_args[@]}" || tileset=$?
if ((tileset > 1)); then
  echo "bench.sh: the 3D Tiles export benchmark did not run to its end (status $tileset)" >&2
  status=1
fi
echo
# The web benchmark likewise: 1 for a missed target, 2 when it cannot run.
web=0
./bench-web.sh "${viewer_args[@]}" || web=$?
if ((web > 1)); then
  echo "bench.sh: the web benchmark did not run to its end (status $web)" >&2
  status=1
fi
exit "$status"
