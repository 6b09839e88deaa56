#!/usr/bin/env bash
# Builds the benchmark programs, then times brindle-export --3dtiles over a production-shaped
# block (paged roots with written finer levels, textured, no normals) as megabytes of tile
# files a second, a re-run with 1% of the tiles touched against the first run, and takes
# brindle-export's peak memory at 100,000 small tiles (build-bench/brindle-tileset-bench).
# The blocks are generated once into $BRINDLE_BENCH_DATA (build-bench/bench-tileset-export-data
# unless set) and reused. --quick (or BRINDLE_BENCH_QUICK=1) takes smaller blocks and fewer
# runs. Each target is reported on a PASS or FAIL line; exits with 2 when it cannot run.
set -euo pipefail
cd "$(dirname "$0")"
# Its own build, without the assertions the test build checks containers with.
BRINDLE_TARGETS="brindle-tileset-bench" \
  scripts/setup.sh build-bench -DBRINDLE_LIBSTDCXX_ASSERTIONS=OFF >/dev/null
# The exporter's peak memory is measured with GNU time.
scripts/install-packages.sh time

data=()
if [[ -n ${BRINDLE_BENCH_DATA:-} ]]; then
  data=(--data "$BRINDLE_BENCH_DATA")
fi
exec build-bench/brindle-tileset-bench "${data[@]}" "$@"
