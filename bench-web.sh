#!/usr/bin/env bash
# Builds the exporter, then measures its 3D Tiles tileset in CesiumJS (tests/web/view_tileset.js,
# headless Chromium at 1920x1080, the default maximum screen-space error): the content requests
# of a whole-block view of a generated block of 10,000 tiles (1,000 with --quick, also
# BRINDLE_BENCH_QUICK=1; --tiles N to choose), each a paged root over one written finer level,
# and whether a close view above the block's centre reaches the finest level there. The block
# and its tileset are made once into $BRINDLE_BENCH_DATA (build-bench/bench-web-data unless set)
# and reused. Prints a PASS or FAIL line per target; exits with 1 when a target is missed, 2
# when it cannot run.
set -euo pipefail
cd "$(dirname "$0")"
tiles=10000
if [[ -n ${BRINDLE_BENCH_QUICK:-} ]]; then
  tiles=1000
fi
while (($#)); do
  case $1 in
    --quick) tiles=1000 ;;
    --tiles) tiles=$2; shift ;;
    *) echo "usage: bench-web.sh [--quick] [--tiles N]" >&2; exit 2 ;;
  esac
  shift
done
# Its own build, without the assertions the test build checks containers with.
BRINDLE_TARGETS="brindle-export brindle-tile-check brindle-sample" \
  scripts/setup.sh build-bench -DBRINDLE_LIBSTDCXX_ASSERTIONS=OFF >/dev/null || exit 2
scripts/web-setup.sh >/dev/null || exit 2

data="${BRINDLE_BENCH_DATA:-build-bench/bench-web-data}/$tiles"
block="$data/block"
tileset="$data/tiles/block"
srs=EPSG:32650
origin=(512345.678 3400000.3 12.5)
if [[ ! -f $tileset/tileset.json ]]; then
  echo "writing a block of $tiles tiles and its tileset in $data"
  rm -rf "$data"
  mkdir -p "$data"
  build-bench/brindle-sample "$block" --tiles "$tiles" --paged-root --written-levels 1 --jpeg \
    --min-texture 32 --max-texture 64 >/dev/null || exit 2
  rm -rf "$block/Corrupt_Tile" "$block/Empty_Tile" "$block/Nested_Tile" "$block/report.txt"
  printf '%s\n' '<?xml version="1.0" encoding="utf-8"?>' '<ModelMetadata version="1">' \
    "  <SRS>$srs</SRS>" "  <SRSOrigin>${origin[0]},${origin[1]},${origin[2]}</SRSOrigin>" \
    '</ModelMetadata>' >"$block/metadata.xml"
  started=$SECONDS
  build-bench/brindle-export "$block" --3dtiles "$data/tiles" >"$data/export.txt" 2>&1 || {
    cat "$data/export.txt" >&2
    exit 2
  }
  if [[ ! -f $tileset/tileset.json ]]; then
    echo "bench-web.sh: brindle-export --3dtiles wrote no $tileset/tileset.json" >&2
    exit 2
  fi
  echo "block and tileset written in $((SECONDS - started)) s"
fi

started=$SECONDS
node tests/web/view_tileset.js --timeout 1200 --own-level '(^|/)Tile_[^/]*/' \
  --screenshot "$data/view" "$tileset" >"$data/views.json" || exit 2
node - "$data/views.json" "$tiles" "$((SECONDS - started))" <<'EOF'
const [file, tiles, seconds] = process.argv.slice(2);
const result = require(require('path').resolve(file));
const whole = result.views.whole || {}, close = result.views.close || {};
const line = (pass, text) => console.log(`${pass ? 'PASS' : 'FAIL'} web: ${text}`);
let missed = false;
const wholePass = !whole.timedOut && whole.glbRequests <= 100 && whole.ownLevelRequests === 0;
line(wholePass, `whole-block view of ${tiles} tiles at 1920x1080: ${whole.glbRequests} ` +
     `content requests (target at most 100), ${whole.ownLevelRequests} of them a tile's ` +
     `own level (target none), ${whole.requests - whole.glbRequests} tilesets; settled in ` +
     `${(whole.settledMs / 1000).toFixed(1)} s`);
const closePass = !close.timedOut && close.reachedLeaf === true;
const finest = close.finest || {};
line(closePass, `close view above the block's centre: reached ${finest.url || 'nothing'} at ` +
     `depth ${finest.depth}, ${close.reachedLeaf ? 'the finest level' : 'not the finest level'}` +
     ` (target the finest), ${close.glbRequests} content requests`);
const clean = result.loadErrors.length + result.tileFailures.length +
              result.outsideRequests === 0;
line(clean, `${result.loadErrors.length} load errors, ${result.tileFailures.length} tile ` +
     `failures, ${result.outsideRequests} requests off this machine, ` +
     `${result.consoleErrors.length} console errors (views took ${seconds} s)`);
process.exitCode = wholePass && closePass && clean ? 0 : 1;
EOF
