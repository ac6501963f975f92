#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz/
# and runs each: first once over every input that ever crashed it
# (fuzz/crashes/TARGET/), then for TAVRO_FUZZ_SECONDS (default 20) seconds
# from its seed corpus (fuzz/corpus/TARGET/). New corpus entries go to a
# scratch folder; a crash leaves its input in build-fuzz/crashes/ and fails
# the run: copy it to fuzz/crashes/TARGET/ once fixed, and add a test.
# Without clang the step is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang++ >/dev/null || ! command -v ld.lld >/dev/null; then
  echo "run-fuzz: clang++ or ld.lld not found; fuzzing skipped"
  exit 0
fi
seconds=${TAVRO_FUZZ_SECONDS:-20}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  "${launcher[@]}" -DTAVRO_BUILD_FUZZ=ON -DTAVRO_BUILD_GUI=OFF -DTAVRO_BUILD_TESTS=OFF \
  -DTAVRO_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz

mkdir -p build-fuzz/crashes
for target in document_reader stream_reader strong_reader code_page utf8 settings_file version_store; do
  binary=build-fuzz/fuzz/fuzz_$target
  crashes=(fuzz/crashes/$target/*)
  if [ -e "${crashes[0]}" ]; then
    "$binary" "${crashes[@]}" >/dev/null 2>&1 || { "$binary" "${crashes[@]}"; exit 1; }
  fi
  scratch=$(mktemp -d)
  log=build-fuzz/$target.log
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
      -artifact_prefix=build-fuzz/crashes/$target- "$scratch" "fuzz/corpus/$target" >"$log" 2>&1; then
    rm -rf "$scratch"
    tail -40 "$log"
    echo "run-fuzz: $target failed; its input is in build-fuzz/crashes/"
    exit 1
  fi
  rm -rf "$scratch"
  echo "run-fuzz: $target: $(grep -o 'Done [0-9]* runs' "$log" | tail -1)"
done
