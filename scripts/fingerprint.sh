#!/usr/bin/env bash
# Prints a checksum of every file each index kind writes for a fixed set of generated blocks,
# so that a change meant to leave the output alone can be shown to: run it before and after,
# and compare the two listings (`diff`).
#   scripts/fingerprint.sh [BUILD_DIR] > fingerprint.txt
# The blocks are made anew by brindle-sample with fixed seeds; every export runs without the
# verdict cache, on one worker and on two, so neither the cache nor the order of work may
# show in the bytes.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_blocks() {
    local into=$1
    mkdir -p "$into"
    # a grid whose side is no power of two, tiles as production makes them
    "$build/brindle-sample" --tiles 30 --seed 7 --paged-root --written-levels 2 \
        --light-in-texture --jpeg "$into/production" >/dev/null
    # plain roots with raw textures and normals
    "$build/brindle-sample" --tiles 20 --seed 3 "$into/plain" >/dev/null
    # a folder of blocks
    mkdir -p "$into/blocks"
    "$build/brindle-sample" --tiles 9 --seed 11 --paged-root --written-levels 1 \
        "$into/blocks/east" >/dev/null
    "$build/brindle-sample" --tiles 12 --seed 12 --paged-root "$into/blocks/west" >/dev/null
}

list_written() {
    # root.osgb of each block and everything in the folders of levels; tile files are the
    # generator's, not ours. A manifest records the tiles' file times and identities, which
    # differ from one generation to the next, so it is left out.
    local top=$1
    (cd "$top" && find . -type f \( -path './*/root.osgb' -o -path './root.osgb' \
        -o -path '*brindle-overview-*' \) ! -name '*.manifest' -newer "$work/stamp" -print0 |
        LC_ALL=C sort -z | xargs -0 -r sha256sum)
}

for kind in proxy paged overview; do
    for jobs in 1 2; do
        run="$work/$kind-$jobs"
        make_blocks "$run"
        sleep 1.1 # the generator's files must read as older than the index
        touch "$work/stamp"
        status=0
        "$build/brindle-export" --index "$kind" --no-cache -j "$jobs" -q \
            "$run/production" "$run/plain" "$run/blocks" >/dev/null 2>&1 || status=$?
        echo "## $kind, $jobs worker(s): exit $status"
        list_written "$run"
    done
done
