#!/usr/bin/env bash
# Builds Brindle, then: with arguments, runs brindle-export with them; without, starts the
# dialog when a display is present, or else writes a sample block and exports it.
set -euo pipefail
cd "$(dirname "$0")"
# Only the programs run here: the tests and benchmarks are ./test.sh's and ./bench.sh's.
programs="brindle-export brindle-tile-check brindle-sample"
if [ $# -eq 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  programs="$programs brindle"
fi
BRINDLE_TARGETS="$programs" scripts/setup.sh >&2

if [ $# -gt 0 ]; then
  exec build/brindle-export "$@"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/brindle ]; then
  exec build/brindle
fi
rm -rf build/sample
build/brindle-sample build/sample
exec build/brindle-export build/sample
