#!/usr/bin/env bash
# Build everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and run the whole test suite there: an out-of-bounds access,
# use after free, leak or undefined behaviour in the filter, the image
# library, the preview or the tests fails the test it happens in. The
# end-to-end tests run the sanitized filter binary, so every job they print
# is checked too, the print path through a private cupsd included.
# Usage: scripts/sanitize.sh [ctest arguments, e.g. -R Hostile]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build-asan -DINKBANDS_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build-asan --output-on-failure -j"$(nproc)" "$@"
