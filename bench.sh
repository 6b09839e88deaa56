#!/usr/bin/env bash
# Builds everything, then runs the validation benchmark. Arguments go to the benchmark, e.g.
# ./bench.sh --quick (or BRINDLE_BENCH_QUICK=1 ./bench.sh) for a small data set.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh >/dev/null
exec build/brindle-bench "$@"
