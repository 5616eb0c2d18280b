#!/usr/bin/env bash
# The whole unit-test suite built with AddressSanitizer and UndefinedBehaviorSanitizer, then run.
#   scripts/sanitize.sh [CTEST ARGUMENTS...]
# Builds into build-asan/ (or $QUILLORE_ASAN_BUILD_DIR); benchmarks are left out. Prints the time the
# build and the tests took.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/install-models.sh"
build=${QUILLORE_ASAN_BUILD_DIR:-$root/build-asan}
jobs=${QUILLORE_JOBS:-$(nproc)}
start=$SECONDS
if [ ! -f "$build/CMakeCache.txt" ]; then
  mkdir -p "$build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORE_SANITIZE=ON \
    -DQUILLORE_BUILD_BENCHMARKS=OFF >"$build/configure.log" 2>&1 || {
    echo "sanitize: configuring failed; the end of $build/configure.log:" >&2
    tail -n 30 "$build/configure.log" >&2
    exit 1
  }
fi
if ! cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1; then
  echo "sanitize: build failed; the end of $build/build.log:" >&2
  tail -n 30 "$build/build.log" >&2
  exit 1
fi
built=$SECONDS
echo "sanitize: built in $((built - start)) s"
# Any report ends the test with a failure. Leaks are reported too; Qt, fontconfig and Tesseract keep
# some process-wide caches on purpose, which the suppressions below name.
suppressions="$build/lsan.supp"
cat >"$suppressions" <<'EOF'
leak:libfontconfig
leak:libQt6Gui
leak:libQt6Core
leak:libdbus
leak:libglib
EOF
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$suppressions:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
(cd "$build" && ctest --output-on-failure --timeout 1800 -j "$jobs" "$@") || status=$?
echo "sanitize: tests took $((SECONDS - built)) s; all together $((SECONDS - start)) s"
exit $status
