#!/usr/bin/env bash
# Runs the fuzzers, bounded:
#   - tile_mutation_fuzz (from build/): damaged tiles, the export run's verdicts against plain
#     loads; a fresh seed each time, printed, so a failure can be made again with
#     build/tile_mutation_fuzz --seed S --only N; disagreeing tiles go to build/tile-fuzz-failures/;
#   - the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer, into
#     build-fuzz/) for the origin report, the tile-check protocol and the binary scene header,
#     each from its seed corpus in tests/fuzz/corpus/; crashes go to build-fuzz/artifacts/.
# Environment: BRINDLE_FUZZ_SEED, BRINDLE_FUZZ_MUTANTS (200), BRINDLE_FUZZ_RUNS (20000 per
# target, at most BRINDLE_FUZZ_SECONDS, 30, each).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
started=$SECONDS
seed="${BRINDLE_FUZZ_SEED:-$(date +%s)}"
mutants="${BRINDLE_FUZZ_MUTANTS:-200}"
runs="${BRINDLE_FUZZ_RUNS:-20000}"
seconds="${BRINDLE_FUZZ_SECONDS:-30}"
jobs="${BRINDLE_JOBS:-2}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
failed=0

echo "== tile_mutation_fuzz: $mutants mutants, seed $seed"
if [[ -f build/CMakeCache.txt ]]; then
  nice cmake --build build -j"$jobs" --target tile_mutation_fuzz >/dev/null
else
  nice scripts/setup.sh >/dev/null
fi
if ! build/tile_mutation_fuzz --seed "$seed" --mutants "$mutants" --jobs "$jobs" \
  --failures build/tile-fuzz-failures; then
  echo "FAILED: tile_mutation_fuzz, seed $seed" >&2
  failed=1
fi
echo "== tile_mutation_fuzz: $((SECONDS - started)) s"

libfuzzer_started=$SECONDS
echo "== building the libFuzzer targets with clang into build-fuzz/"
scripts/install-packages.sh clang-14 libfuzzer-14-dev
cmake -S tests/fuzz/libfuzzer -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=None "${launcher[@]}" >/dev/null
nice cmake --build build-fuzz -j"$jobs" >/dev/null
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# The report reader reads 4 KB at a time: its inputs cross a few of those boundaries.
for target in origin_report:9000 tile_check_protocol:4096 binary_scene_header:4096 \
  meshopt_glb:8192; do
  max_len="${target#*:}"
  target="${target%:*}"
  # New inputs go to build-fuzz/corpus/; the seeds in the tree stay as they are.
  mkdir -p "build-fuzz/corpus/$target" build-fuzz/artifacts
  echo "== fuzz_$target: $runs runs"
  if ! build-fuzz/fuzz_$target -runs="$runs" -max_total_time="$seconds" -max_len="$max_len" \
    -seed=$((seed % 2147483647 + 1)) -artifact_prefix="build-fuzz/artifacts/$target-" \
    -print_final_stats=0 "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target" \
    2>"build-fuzz/fuzz_$target.log"; then
    tail -n 60 "build-fuzz/fuzz_$target.log" >&2
    echo "FAILED: fuzz_$target (seed $((seed % 2147483647 + 1)); the input is in build-fuzz/artifacts/)" >&2
    failed=1
  else
    grep -E "^#[0-9]+[[:space:]]+DONE" "build-fuzz/fuzz_$target.log" | tail -n 1 || true
  fi
done
echo "== libFuzzer targets: $((SECONDS - libfuzzer_started)) s"

echo "== fuzzing took $((SECONDS - started)) s"
if ((failed)); then
  echo "fuzzing FAILED" >&2
  exit 1
fi
echo "fuzzing passed"
