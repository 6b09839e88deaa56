#!/usr/bin/env bash
# Cross-builds Brindle for Windows (scripts/windows/build.sh) and tests it under Wine: the
# export test suite, the overview's tests (its textures embedded as JPEG and PNG among them),
# the tileset's tests, the wording tests and the dialog's side of them, then brindle-export.exe
# end to end on a sample block in folders whose names are Chinese and hold spaces, and on
# metadata.xml files whose SRS PROJ must identify. Its index files must be byte-identical to
# those the Linux build writes for the same folders, and so must the binary glTF brindle-glb.exe
# converts a tile to. Last, brindle.exe's dialog must open on a virtual X server and close on
# Escape (dialog_smoke.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$SECONDS

scripts/windows/build.sh

# The Linux build provides the sample block and the indexes to compare with.
if [[ -x build/brindle-sample && -x build/brindle-export && -f build/CMakeCache.txt ]]; then
  nice -n 19 cmake --build build --parallel 2 --target brindle-sample brindle-export \
    brindle-tile-check brindle-glb >/dev/null
else
  nice -n 19 scripts/setup.sh >/dev/null
fi

# shellcheck source=scripts/windows/wine-env.sh
source scripts/windows/wine-env.sh

work="$(mktemp -d /tmp/brindle-wine-test.XXXXXX)"
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The Windows path Wine gives a Linux path (its Z: drive is /).
windows_path() { local p="$1"; echo "Z:${p//\//\\}"; }

failed=0
echo "== export_tests.exe under Wine"
if ! "$wine" build-windows/export_tests.exe --gtest_brief=1; then
  echo "FAILED: export_tests.exe" >&2
  failed=1
fi

echo "== overview_tests.exe (the overview's building blocks, embedded textures) under Wine"
if ! "$wine" build-windows/overview_tests.exe --gtest_brief=1; then
  echo "FAILED: overview_tests.exe" >&2
  failed=1
fi

echo "== wording_tests.exe (the report's sentences) under Wine"
if ! "$wine" build-windows/wording_tests.exe --gtest_brief=1; then
  echo "FAILED: wording_tests.exe" >&2
  failed=1
fi

echo "== tileset_tests.exe (the tileset's errors and tileset.json) under Wine"
if ! "$wine" build-windows/tileset_tests.exe --gtest_brief=1; then
  echo "FAILED: tileset_tests.exe" >&2
  failed=1
fi

echo "== win32_ui_tests.exe (the dialog's side of the wording) under Wine"
if ! "$wine" build-windows/win32_ui_tests.exe --gtest_brief=1; then
  echo "FAILED: win32_ui_tests.exe" >&2
  failed=1
fi

echo "== brindle-export.exe end to end"
# Two blocks in a folder whose name holds a space; some tiles have Chinese names, one with a
# space, and the second block has no report.txt, so it carries the first block's origin over.
blocks="$work/linux/测试 数据"
mkdir -p "$blocks"
build/brindle-sample --tiles 12 "$blocks/区块 甲" >/dev/null
n=0
for tile in "$blocks/区块 甲"/Tile_*; do
  case $n in
  0) mv "$tile" "$blocks/区块 甲/瓦片 东北" ;;
  1) mv "$tile" "$blocks/区块 甲/瓦片西南" ;;
  2) mv "$tile" "$blocks/区块 甲/測試" ;;
  esac
  n=$((n + 1))
done
# One tile zlib-compressed, as many photogrammetry tools write them.
zlib_tile="$blocks/区块 甲/瓦片西南/root.osgb"
osgconv -O Compressor=zlib "$zlib_tile" "$work/zlib.osgb" >/dev/null 2>&1
grep -q zlib "$work/zlib.osgb" || { echo "FAILED: could not write a zlib tile" >&2; exit 1; }
mv "$work/zlib.osgb" "$zlib_tile"
cp -a "$blocks/区块 甲" "$blocks/区块 乙"
rm "$blocks/区块 乙/report.txt"
cp -a "$work/linux" "$work/windows"

build/brindle-export -q -j 2 "$blocks/区块 甲" "$blocks/区块 乙"

# The programs run from a folder with a Chinese name and a space as well: the export finds
# and starts its tile-check workers beside itself.
programs="$work/程序 目录"
mkdir -p "$programs"
# Taken from the package as shipped: with proj.db beside them, which PROJ reads.
cp build-windows/package/brindle-export.exe build-windows/package/brindle-tile-check.exe \
  build-windows/package/proj.db "$programs/"
win_blocks="$work/windows/测试 数据"
status=0
"$wine" "$programs/brindle-export.exe" -j 2 "$(windows_path "$win_blocks/区块 甲")" \
  "$(windows_path "$win_blocks/区块 乙")" >"$work/out.txt" 2>"$work/err.txt" || status=$?
cat "$work/out.txt"
if ((status != 0)); then
  echo "FAILED: brindle-export.exe exited with $status" >&2
  cat "$work/err.txt" >&2
  failed=1
fi
for block in "区块 甲" "区块 乙"; do
  if ! grep -qF "$block" "$work/out.txt"; then
    echo "FAILED: the output does not name $block" >&2
    failed=1
  fi
  if ! cmp "$blocks/$block/root.osgb" "$win_blocks/$block/root.osgb"; then
    echo "FAILED: $block/root.osgb differs between the Linux and the Windows build" >&2
    failed=1
  fi
done

echo "== brindle-export.exe writes a block's 3D Tiles tileset, then updates it in place"
# The second run replaces the tileset's manifest while it has the earlier one read: Windows
# replaces no file that is held open.
win_tiles="$work/windows/tilesets"
for run in first second; do
  status=0
  "$wine" "$programs/brindle-export.exe" -q -j 2 --3dtiles "$(windows_path "$win_tiles")" \
    "$(windows_path "$win_blocks/区块 甲")" >"$work/out-3dtiles-$run.txt" 2>&1 || status=$?
  if ((status != 0)) || [[ ! -s "$win_tiles/区块 甲/tileset.json" ]]; then
    echo "FAILED: the $run --3dtiles run exited with $status, or wrote no tileset.json" >&2
    cat "$work/out-3dtiles-$run.txt" >&2
    failed=1
  fi
  # A touched tile, so that the second run converts it again and updates the tileset.
  touch "$win_blocks/区块 甲"/Tile_*/root.osgb
  sleep 1.2
done
if [[ -e "$win_tiles/区块 甲/brindle-tileset.pending" ]] ||
  ! grep -q '"generation":2' "$win_tiles/区块 甲/brindle-tileset.manifest"; then
  echo "FAILED: the second --3dtiles run did not finish its update in place" >&2
  ls -la "$win_tiles/区块 甲" >&2
  failed=1
fi

echo "== brindle-export.exe identifies metadata.xml's SRS"
# Degrees are no translation: the folder fails naming its SRS. A projected CRS is told only
# by PROJ with its database; unidentified, it would be called a local frame.
for srs in EPSG:4326 EPSG:4547; do
  folder="$work/windows/srs $srs"
  cp -a "$blocks/区块 甲" "$folder"
  rm -f "$folder/root.osgb" "$folder/report.txt"
  printf '<ModelMetadata version="1"><SRS>%s</SRS><SRSOrigin>114.31,30.52,20</SRSOrigin></ModelMetadata>' \
    "$srs" >"$folder/metadata.xml"
  status=0
  "$wine" "$programs/brindle-export.exe" -j 2 "$(windows_path "$folder")" >"$work/out-srs.txt" \
    2>"$work/err-srs.txt" || status=$?
  cat "$work/out-srs.txt" "$work/err-srs.txt"
  if [[ $srs == EPSG:4326 ]]; then
    if ((status != 1)) || ! grep -qF "SRS EPSG:4326 is geographic" "$work/err-srs.txt" ||
      [[ -e "$folder/root.osgb" ]]; then
      echo "FAILED: a geographic metadata.xml was not refused (exit $status)" >&2
      failed=1
    fi
  elif ((status != 0)) || ! grep -qF "in EPSG:4547" "$work/out-srs.txt" ||
    grep -qF "local frame" "$work/out-srs.txt"; then
    echo "FAILED: EPSG:4547 was not identified as projected (exit $status)" >&2
    failed=1
  fi
done

echo "== brindle-export.exe on a drive's root folder"
# A drive letter of Wine's own naming a copy of the block: the index goes to Y:\root.osgb,
# with paths built by the file-system library, not by gluing a backslash onto "Y:\".
mkdir -p "$work/linux/root block" "$work/windows"
cp -a "$blocks/区块 甲/." "$work/linux/root block/"
rm -f "$work/linux/root block/root.osgb"
cp -a "$work/linux/root block" "$work/windows/root block"
build/brindle-export -q -j 2 "$work/linux/root block"
ln -sfn "$work/windows/root block" "$WINEPREFIX/dosdevices/y:"
status=0
"$wine" "$programs/brindle-export.exe" -j 2 'Y:\' >"$work/out-root.txt" 2>"$work/err-root.txt" ||
  status=$?
rm -f "$WINEPREFIX/dosdevices/y:"
cat "$work/out-root.txt"
if ((status != 0)); then
  echo "FAILED: brindle-export.exe on Y:\ exited with $status" >&2
  cat "$work/err-root.txt" >&2
  failed=1
elif ! grep -qF 'wrote Y:\root.osgb' "$work/out-root.txt"; then
  echo "FAILED: the index on Y:\ is not named Y:\root.osgb" >&2
  failed=1
fi
if ! cmp "$work/linux/root block/root.osgb" "$work/windows/root block/root.osgb"; then
  echo "FAILED: the drive root's root.osgb differs between the Linux and the Windows build" >&2
  failed=1
fi

echo "== brindle-glb.exe: a tile's own level as binary glTF"
# The 3D Tiles content, with the glTF library as the Windows build compiles it: the finest
# file of a tile with written levels and an embedded JPEG texture, converted by both builds.
# The Windows file must say what the Linux one says, and read back whole where the glTF
# validator is installed (scripts/web-setup.sh).
glb_work="$work/glb"
mkdir -p "$glb_work"
build/brindle-sample --tiles 1 --jpeg --paged-root --written-levels 2 "$glb_work/block" >/dev/null
cp "$(find "$glb_work/block" -path '*Tile_*' -name 'root_L2.osgb' | head -n1)" "$glb_work/tile.osgb"
build/brindle-glb "$glb_work/tile.osgb" "$glb_work/linux.glb" >"$glb_work/linux.txt"
status=0
"$wine" build-windows/brindle-glb.exe "$(windows_path "$glb_work/tile.osgb")" \
  "$(windows_path "$glb_work/windows.glb")" >"$glb_work/windows.txt" 2>&1 || status=$?
cat "$glb_work/windows.txt"
# The first line: bytes, vertices, triangles and images, after the file's name (a Windows
# name holds a colon of its own).
counts() { head -n1 "$1" | tr -d '\r' | sed 's/^.*\.glb: //'; }
if ((status != 0)) || [[ ! -s "$glb_work/windows.glb" ]]; then
  echo "FAILED: brindle-glb.exe exited with $status" >&2
  failed=1
elif [[ "$(counts "$glb_work/windows.txt")" != "$(counts "$glb_work/linux.txt")" ]]; then
  echo "FAILED: brindle-glb.exe wrote $(counts "$glb_work/windows.txt");" \
    "the Linux build $(counts "$glb_work/linux.txt")" >&2
  failed=1
elif ! cmp -s "$glb_work/linux.glb" "$glb_work/windows.glb"; then
  echo "FAILED: the glb differs between the Linux and the Windows build" >&2
  failed=1
fi
if [[ -f tests/web/node_modules/gltf-validator/package.json ]] && command -v node >/dev/null; then
  if ! node tests/web/validate_glb.js "$glb_work/windows.glb"; then
    echo "FAILED: the glTF validator rejects brindle-glb.exe's file" >&2
    failed=1
  fi
else
  echo "(the glTF validator is not installed: brindle-glb.exe's file is compared, not read back)"
fi

echo "== brindle.exe: the dialog opens and closes"
packages=(xvfb xauth xdotool)
scripts/install-packages.sh --no-install-recommends "${packages[@]}"
# The Wine programs above run without a display; this one needs its own.
"$wineserver" -k 2>/dev/null || true
if ! xvfb-run -a scripts/windows/dialog_smoke.sh build-windows/brindle.exe \
  build-windows/screenshots/dialog.png 2> >(grep -v -e '^X connection to' >&2); then
  echo "FAILED: brindle.exe's dialog" >&2
  failed=1
fi

echo "== took $((SECONDS - started)) s"
if ((failed)); then
  echo "windows tests FAILED" >&2
  exit 1
fi
echo "windows tests passed"
