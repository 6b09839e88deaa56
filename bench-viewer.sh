#!/usr/bin/env bash
# Builds everything, then compares a viewer opening a large block's proxy index and its paged
# index (build-bench/brindle-viewer-bench). The block is generated once into
# build-bench/bench-viewer-data/. Arguments go to the benchmark, e.g. --tiles 500, --jpeg for
# tiles with larger textures embedded as JPEG, or --quick (also BRINDLE_BENCH_QUICK=1) for a
# block of 500 tiles. Exits with 1 when a target is missed, 2 when it cannot run.
# The viewer renders offscreen with Mesa's software rasteriser on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")"
# Its own build, without the assertions the test build checks containers with.
scripts/setup.sh build-bench -DBRINDLE_LIBSTDCXX_ASSERTIONS=OFF >/dev/null

packages=(xvfb xauth libgl1-mesa-dri)
scripts/install-packages.sh "${packages[@]}"

# Generating the block and rendering are heavy on a shared machine.
export LIBGL_ALWAYS_SOFTWARE=1
exec xvfb-run -a -s "-screen 0 1024x1024x24" nice -n 10 build-bench/brindle-viewer-bench "$@"
