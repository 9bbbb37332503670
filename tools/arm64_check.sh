#!/bin/sh
# Cross-builds the core and tools/lane_check.cpp for arm64 (aarch64-linux-gnu-g++, where the
# 2-lane width is NEON) and runs it under qemu-aarch64 at QUELM_SIMD=scalar and neon, then
# natively at every x86 width: every line must agree ("differing 0", the same digests).
# (GCC 12 at -O2 warns about bootstrap.cpp with a false positive; the build still completes.)
#   apt-get install g++-aarch64-linux-gnu qemu-user
set -eu
cd "$(dirname "$0")/.."
out=${OUT:-build/arm64-check}
mkdir -p "$out/o"
flags="-std=c++23 -O2 -Wall -Wextra -ffp-contract=off -fno-math-errno -Wno-psabi -Isrc"
find src/quelm -name '*.cpp' | xargs -P2 -I{} sh -c \
    "aarch64-linux-gnu-g++ $flags -c {} -o $out/o/\$(echo {} | tr / _).o"
aarch64-linux-gnu-g++ $flags tools/lane_check.cpp "$out"/o/*.o -static -lpthread -o "$out/lane_check_arm64"
g++ $flags tools/lane_check.cpp build/dev/libquelm_core.a -lpthread -o "$out/lane_check_x86"
for s in scalar neon; do QUELM_SIMD=$s qemu-aarch64 "$out/lane_check_arm64"; done
for s in scalar sse2 avx2 avx512; do QUELM_SIMD=$s "$out/lane_check_x86" 2>/dev/null; done
