#!/usr/bin/env bash
# Builds everything, then runs the validation benchmark. Arguments go to the benchmark, e.g.
# ./bench.sh --quick (or BRINDLE_BENCH_QUICK=1 ./bench.sh) for small data sets. The cold-cache
# runs drop the system's page cache, which needs root; elsewhere they are skipped.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh >/dev/null
# The exporter's peak memory is measured with GNU time.
if [ ! -x /usr/bin/time ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq time >/dev/null
fi
exec build/brindle-bench "$@"
