#!/usr/bin/env bash
# Builds the benchmark programs, then times brindle-export's start-up (--version) against the
# tile-check worker's, and an unchanged re-run over a production block of 2,000 tiles (the SRS
# in its metadata.xml) against the first run (build-bench/brindle-startup-bench). The block is
# generated once into $BRINDLE_BENCH_DATA (build-bench/bench-startup-data unless set) and
# reused. --quick (or BRINDLE_BENCH_QUICK=1) takes fewer runs. Each target is reported on a
# PASS or FAIL line; exits with 2 when it cannot run.
set -euo pipefail
cd "$(dirname "$0")"
# Its own build, without the assertions the test build checks containers with.
BRINDLE_TARGETS="brindle-startup-bench" \
  scripts/setup.sh build-bench -DBRINDLE_LIBSTDCXX_ASSERTIONS=OFF >/dev/null

data=()
if [[ -n ${BRINDLE_BENCH_DATA:-} ]]; then
  data=(--data "$BRINDLE_BENCH_DATA")
fi
exec nice -n 10 build-bench/brindle-startup-bench "${data[@]}" "$@"
