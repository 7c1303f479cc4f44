#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on its corpus.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_shuffle fuzz_split fuzz_replace fuzz_layout fuzz_article)
bash scripts/install-deps.sh test
build_dir=${BUILD_DIR:-build}/fuzz-clang
CXX=clang++ cmake -S fuzz -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}" >/dev/null

for target in "${targets[@]}"; do
  name=${target#fuzz_}
  corpus="$build_dir/corpus/$name"
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$name"/* "$corpus"/
  if [ "$name" = shuffle ]; then
    # The built-in sample, as the window writes it: GBK, blocks joined by CR LF, clock 1000 first.
    { printf '\xe8\x03\x00\x00'; iconv -f UTF-8 -t GBK shell/sample_article.html | sed '$!s/$/\r/' | head -c -1; } >"$corpus/sample"
  fi
  echo "== $target: ${seconds}s"
  # Crash, leak and timeout inputs go beside the build, not into the folder the script runs in.
  artifacts="$build_dir/artifacts/$name/"
  mkdir -p "$artifacts"
  "$build_dir/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts" "$corpus" 2>&1 |
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|Done |==[0-9]+==ERROR|property broken|SUMMARY|INFO: Seed|artifact_prefix=|Test unit written)|cov:' | tail -8
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "$target found a failure" >&2; exit 1; }
done
