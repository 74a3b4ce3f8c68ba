#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each on its seed corpus.
# Usage: scripts/fuzz.sh [seconds-per-target] [build-dir]
set -euo pipefail
shopt -s nullglob
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$(realpath -m "${2:-$root/build-fuzz}") # absolute: each target runs in its corpus folder
"$root/scripts/setup.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALLOWIN_FUZZ=ON -DTALLOWIN_TESTS=OFF
targets=()
for src in "$root"/fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$src" .cpp)")
done
cmake --build "$build" --target "${targets[@]}"
failed=()
for src in "$root"/fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  corpus=$(mktemp -d)
  log=$(mktemp)
  cp -r "$root/fuzz/corpus/$name/." "$corpus/" 2>/dev/null || true
  echo "== $name: ${seconds}s"
  # Every target runs even when one fails; a failure shows the whole report.
  if (cd "$corpus" && "$build/fuzz/$name" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 -artifact_prefix="$corpus/" \
      "$corpus") >"$log" 2>&1; then
    tail -n 6 "$log"
  else
    grep -v -e '^#[0-9]' -e 'NEW_FUNC' "$log" | tail -n 80
    for artifact in "$corpus"/crash-* "$corpus"/timeout-* "$corpus"/oom-* "$corpus"/leak-*; do
      echo "-- $(basename "$artifact") (base64):"
      base64 -w 0 "$artifact" | head -c 20000
      echo
    done
    failed+=("$name")
  fi
  rm -rf "$corpus" "$log"
done
if ((${#failed[@]})); then
  echo "fuzz targets that failed: ${failed[*]}"
  exit 1
fi
