#!/usr/bin/env bash
# Builds everything, then runs the validation benchmark. Arguments go to the benchmark, e.g.
# ./bench.sh --quick (or BRINDLE_BENCH_QUICK=1 ./bench.sh) for small data sets. The cold-cache
# runs drop the system's page cache, which needs root; elsewhere they are skipped.
set -euo pipefail
cd "$(dirname "$0")"
# Its own build, without the assertions the test build checks containers with.
scripts/setup.sh build-bench -DBRINDLE_LIBSTDCXX_ASSERTIONS=OFF >/dev/null
# The exporter's peak memory is measured with GNU time.
scripts/install-packages.sh time
exec build-bench/brindle-bench "$@"
