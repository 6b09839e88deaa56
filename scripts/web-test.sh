#!/usr/bin/env bash
# The browser stage: writes a sample block of production-shaped tiles (paged roots with written
# finer levels), makes its 3D Tiles tileset, and loads it in CesiumJS in headless Chromium
# (tests/web/view_tileset.js), offline, at 1920x1080. Checks that the tileset loads with no
# error and nothing asked of the network, that a whole-block view of a tileset with levels above
# the tiles asks for no tile's own level, and that a close view reaches the finest level of the
# tile under it. The views' findings and screenshots go to build/web-test/.
# While brindle-export cannot write tilesets (no --3dtiles), the tileset is made by hand from
# the tiles' files (tests/web/hand_tileset.js, no levels above the tiles).
# Environment: BRINDLE_WEB_TILES (36), BRINDLE_WEB_TIMEOUT (seconds a view may take, 300).
set -euo pipefail
cd "$(dirname "$0")/.."
tiles="${BRINDLE_WEB_TILES:-36}"
timeout="${BRINDLE_WEB_TIMEOUT:-300}"
jobs="${BRINDLE_JOBS:-2}"

scripts/web-setup.sh >/dev/null
targets=(brindle-export brindle-tile-check brindle-sample brindle-glb)
if [[ -f build/CMakeCache.txt ]]; then
  nice cmake --build build -j"$jobs" "${targets[@]/#/--target=}" >/dev/null
else
  BRINDLE_TARGETS="${targets[*]}" nice scripts/setup.sh >/dev/null
fi

out=build/web-test
rm -rf "$out"
mkdir -p "$out"
build/brindle-sample "$out/block" --tiles "$tiles" --paged-root --written-levels 2 --jpeg \
  >/dev/null
# The sample's deliberately broken folders are no part of what the browser is to see.
rm -rf "$out/block/Corrupt_Tile" "$out/block/Empty_Tile" "$out/block/Nested_Tile"

check_args=()
if build/brindle-export --help | grep -q -- '--3dtiles'; then
  echo "== the tileset: brindle-export --3dtiles, $tiles tiles"
  build/brindle-export "$out/block" --3dtiles "$out/tiles" >"$out/export.txt" 2>&1 || {
    cat "$out/export.txt" >&2
    echo "FAILED: brindle-export --3dtiles" >&2
    exit 1
  }
  tileset="$out/tiles/block"
  check_args+=(--top-levels)
else
  echo "== the tileset: made by hand (brindle-export has no --3dtiles), $tiles tiles"
  node tests/web/hand_tileset.js build/brindle-glb "$out/block" "$out/tiles/block" >/dev/null
  tileset="$out/tiles/block"
fi

echo "== CesiumJS in headless Chromium"
started=$SECONDS
node tests/web/view_tileset.js --timeout "$timeout" --own-level '(^|/)Tile_[^/]*/' \
  --screenshot "$out/view" "$tileset" >"$out/views.json"
echo "views: $((SECONDS - started)) s; findings in $out/views.json, screenshots $out/view-*.png"
node tests/web/check_views.js "${check_args[@]}" "$out/views.json"
