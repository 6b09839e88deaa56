#!/usr/bin/env bash
# The browser stage: writes a sample block of production-shaped tiles (paged roots with written
# finer levels), makes its 3D Tiles tileset, and loads it in CesiumJS in headless Chromium
# (tests/web/view_tileset.js), offline, at 1920x1080. Checks that the tileset loads with no
# error and nothing asked of the network, that a whole-block view of a tileset with levels above
# the tiles asks for no tile's own level, and that a close view reaches the finest level of the
# tile under it. Then the same for the block's tileset with b3dm contents (--3dtiles-b3dm, a
# tileset of version 1.0), and with compressed, quantised contents. The views' findings and
# screenshots go to build/web-test/.
# Environment: BRINDLE_WEB_TILES (36), BRINDLE_WEB_TIMEOUT (seconds a view may take, 300).
set -euo pipefail
cd "$(dirname "$0")/.."
tiles="${BRINDLE_WEB_TILES:-36}"
timeout="${BRINDLE_WEB_TIMEOUT:-300}"
jobs="${BRINDLE_JOBS:-2}"

scripts/web-setup.sh >/dev/null
targets=(brindle-export brindle-tile-check brindle-sample)
if [[ -f build/CMakeCache.txt ]]; then
  nice cmake --build build -j"$jobs" "${targets[@]/#/--target=}" >/dev/null
else
  BRINDLE_TARGETS="${targets[*]}" nice scripts/setup.sh >/dev/null
fi

out=build/web-test
rm -rf "$out"
mkdir -p "$out"
# Placed on the globe as survey blocks are: a projected SRS and the sample's own origin.
build/brindle-sample "$out/block" --tiles "$tiles" --paged-root --written-levels 2 --jpeg \
  >/dev/null
# The sample's deliberately broken folders are no part of what the browser is to see.
rm -rf "$out/block/Corrupt_Tile" "$out/block/Empty_Tile" "$out/block/Nested_Tile"
# Placed by metadata.xml alone: report.txt's origin, where there is one, comes without an SRS.
rm "$out/block/report.txt"
srs=EPSG:32650
origin=(512345.678 3400000.3 12.5)
cat >"$out/block/metadata.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<ModelMetadata version="1">
  <SRS>$srs</SRS>
  <SRSOrigin>${origin[0]},${origin[1]},${origin[2]}</SRSOrigin>
</ModelMetadata>
XML

echo "== the tileset of $tiles tiles with 2 finer levels each"
build/brindle-export "$out/block" --3dtiles "$out/tiles" >"$out/export.txt" 2>&1 || {
  cat "$out/export.txt" >&2
  echo "FAILED: brindle-export --3dtiles" >&2
  exit 1
}
tileset="$out/tiles/block"
if [[ ! -f $tileset/tileset.json ]]; then
  echo "FAILED: brindle-export --3dtiles wrote no $tileset/tileset.json" >&2
  exit 1
fi

echo "== CesiumJS in headless Chromium"
started=$SECONDS
node tests/web/view_tileset.js --timeout "$timeout" --own-level '(^|/)Tile_[^/]*/' \
  --screenshot "$out/view" "$tileset" >"$out/views.json"
echo "views: $((SECONDS - started)) s; findings in $out/views.json, screenshots $out/view-*.png"
node tests/web/check_views.js --top-levels "$out/views.json"

# The same block for viewers of 3D Tiles 1.0: b3dm contents in a tileset of version 1.0, which
# CesiumJS loads and draws as it does the glb one.
echo "== the same tileset with b3dm contents (3D Tiles 1.0)"
build/brindle-export "$out/block" --3dtiles "$out/tiles-b3dm" --3dtiles-b3dm \
  >"$out/export-b3dm.txt" 2>&1 || {
  cat "$out/export-b3dm.txt" >&2
  echo "FAILED: brindle-export --3dtiles --3dtiles-b3dm" >&2
  exit 1
}
b3dm_tileset="$out/tiles-b3dm/block"
version=$(node -e 'console.log(JSON.parse(require("fs").readFileSync(process.argv[1])).asset.version)' \
  "$b3dm_tileset/tileset.json")
b3dm_count=$(find "$b3dm_tileset" -name '*.b3dm' | wc -l)
glb_count=$(find "$b3dm_tileset" -name '*.glb' | wc -l)
if [[ $version != 1.0 || $b3dm_count -eq 0 || $glb_count -ne 0 ]]; then
  echo "FAILED: the b3dm tileset says version $version, with $b3dm_count b3dm and $glb_count glb" \
    "contents" >&2
  exit 1
fi
started=$SECONDS
node tests/web/view_tileset.js --timeout "$timeout" --own-level '(^|/)Tile_[^/]*/' \
  --screenshot "$out/view-b3dm" "$b3dm_tileset" >"$out/views-b3dm.json"
echo "views: $((SECONDS - started)) s; findings in $out/views-b3dm.json," \
  "screenshots $out/view-b3dm-*.png"
node tests/web/check_views.js --top-levels "$out/views-b3dm.json"

echo "== the same block with compressed, quantised contents (--3dtiles-meshopt --3dtiles-quantize)"
build/brindle-export "$out/block" --3dtiles "$out/meshopt" --3dtiles-meshopt --3dtiles-quantize \
  >"$out/export-meshopt.txt" 2>&1 || {
  cat "$out/export-meshopt.txt" >&2
  echo "FAILED: brindle-export --3dtiles-meshopt" >&2
  exit 1
}
node tests/web/view_tileset.js --timeout "$timeout" --own-level '(^|/)Tile_[^/]*/' \
  --screenshot "$out/meshopt-view" "$out/meshopt/block" >"$out/views-meshopt.json"
node tests/web/check_views.js --top-levels "$out/views-meshopt.json"
