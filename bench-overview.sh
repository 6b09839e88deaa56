#!/usr/bin/env bash
# Builds everything, then measures the overview index against the proxy and paged indexes
# (build-bench/brindle-overview-bench) on blocks of 1,000, 10,000 and 100,000 production-shaped
# roots-only tiles, or of 100, 400 and 1,600 with --quick (also BRINDLE_BENCH_QUICK=1), and on
# 324 tiles whose finer levels are written (36 with --quick; --levelled-tiles N to choose;
# --sizes 1000,10000 for some of the roots-only blocks alone). The
# blocks are generated once into $BRINDLE_BENCH_DATA (build-bench/bench-overview-data unless
# set) and reused. Prints a PASS or FAIL line per target; exits with 1 when a target is missed,
# 2 when it cannot run.
# The far views render offscreen with Mesa's software rasteriser on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")"
# Its own build, without the assertions the test build checks containers with.
scripts/setup.sh build-bench -DBRINDLE_LIBSTDCXX_ASSERTIONS=OFF >/dev/null
scripts/install-packages.sh xvfb xauth libgl1-mesa-dri time

data=()
if [[ -n ${BRINDLE_BENCH_DATA:-} ]]; then
  data=(--data "$BRINDLE_BENCH_DATA")
fi
export LIBGL_ALWAYS_SOFTWARE=1
exec xvfb-run -a -s "-screen 0 1920x1080x24" nice -n 10 build-bench/brindle-overview-bench \
  "${data[@]}" "$@"
