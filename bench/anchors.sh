#!/bin/sh
# Runs our kernels beside libyuv and swscale (bench/anchor_bench.cpp) and the MJPEG decoder
# beside a bare TurboJPEG decode (media_bench), and prints ours / anchor from the medians of
# five runs. Installs the anchors as bench-only packages (Debian), then builds in build/native.
set -e
cd "$(dirname "$0")/.."
if ! [ -e /usr/include/libyuv.h ] || ! [ -e /usr/include/x86_64-linux-gnu/libswscale/swscale.h ]; then
  apt-get install -y --no-install-recommends libyuv-dev libswscale-dev libturbojpeg0-dev
fi
cmake --preset native >/dev/null
cmake --build --preset native --target anchor_bench media_bench
out=${TMPDIR:-/tmp}
build/native/bench/anchor_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_out="$out/anchor.json" >/dev/null
build/native/bench/media_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/media.json" >/dev/null
bench/ratios.py "$out/anchor.json"
bench/ratios.py "$out/media.json"
