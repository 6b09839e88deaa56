#!/usr/bin/env bash
# Builds the library, brindle-export and the dialog with AddressSanitizer and
# UndefinedBehaviorSanitizer (std::vector's spare capacity poisoned, the C++ library's
# assertions on) into build-asan/, runs their test suites and exports a block of real-size
# tiles; then builds the export tests with ThreadSanitizer into build-tsan/ and runs them.
# Any report ends the run with a failure. The tile-check worker stays a plain build (from
# build/): it bounds its own address space, which a sanitized program cannot live in.
#
# Usage: scripts/sanitize.sh [address] [thread]   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
started=$SECONDS
stages=("$@")
((${#stages[@]})) || stages=(address thread)
jobs="${BRINDLE_JOBS:-2}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# The plain worker, and the packages every build needs.
if [[ -f build/CMakeCache.txt ]]; then
  nice cmake --build build -j"$jobs" --target brindle-tile-check >/dev/null
else
  nice scripts/setup.sh >/dev/null
fi

# Configures and builds the named targets with one sanitizer; -O1 keeps the build cheap and
# the reports' stacks whole.
build() {
  local sanitizer="$1" dir="$2"
  shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" "${launcher[@]}" \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
    -DBRINDLE_SANITIZE="$sanitizer" -DBRINDLE_PLAIN_WORKER="$root/build/brindle-tile-check" \
    >/dev/null
  nice cmake --build "$dir" -j"$jobs" --target "$@" >/dev/null
}

failed=0
# Runs a test program, which must end cleanly within its time.
run() {
  local name="$1"
  shift
  echo "== $name"
  if ! timeout 900 "$@"; then
    echo "FAILED: $name" >&2
    failed=1
  fi
}

work="$(mktemp -d "${TMPDIR:-/tmp}/brindle-sanitize.XXXXXX")"
trap 'rm -rf "$work"' EXIT

for stage in "${stages[@]}"; do
  stage_started=$SECONDS
  case "$stage" in
  address)
    echo "== building with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/"
    build address build-asan export_tests cli_tests brindle_ui_tests wording_tests \
      brindle-export brindle-sample brindle
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
    export LSAN_OPTIONS="suppressions=$root/scripts/sanitizer/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
    run export_tests build-asan/export_tests --gtest_brief=1
    run cli_tests build-asan/cli_tests --gtest_brief=1
    run wording_tests build-asan/wording_tests --gtest_brief=1
    run brindle_ui_tests env QT_QPA_PLATFORM=offscreen FONTCONFIG_PATH=/etc/fonts \
      build-asan/brindle_ui_tests
    # Tiles of 64 KB to 3 MB, the sizes at which the run reads ahead of its workers. In the
    # second block the one large tile is checked last, when every job is already taken.
    echo "== brindle-export on blocks of real-size tiles"
    build-asan/brindle-sample --tiles 24 --min-texture 150 --max-texture 1000 --seed 7 \
      "$work/many" >/dev/null
    build-asan/brindle-sample --tiles 1 --min-texture 400 --max-texture 400 "$work/one" >/dev/null
    for block in many:24 one:1; do
      status=0
      build-asan/brindle-export -j 2 "$work/${block%:*}" >"$work/out.txt" 2>"$work/err.txt" ||
        status=$?
      cat "$work/out.txt" "$work/err.txt"
      if ((status != 0)) || ! grep -q "^wrote .*: ${block#*:} entr" "$work/out.txt" ||
        [[ -s "$work/err.txt" ]]; then
        echo "FAILED: brindle-export on ${block%:*} (status $status)" >&2
        failed=1
      fi
    done
    unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
    ;;
  thread)
    echo "== building the export tests with ThreadSanitizer into build-tsan/"
    build thread build-tsan export_tests
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
    run export_tests build-tsan/export_tests --gtest_brief=1
    unset TSAN_OPTIONS
    ;;
  *)
    echo "usage: scripts/sanitize.sh [address] [thread]" >&2
    exit 2
    ;;
  esac
  echo "== $stage: $((SECONDS - stage_started)) s"
done

echo "== sanitizers took $((SECONDS - started)) s"
if ((failed)); then
  echo "sanitizer stage FAILED" >&2
  exit 1
fi
echo "sanitizer stage passed"
