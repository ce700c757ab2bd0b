#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (QX_FUZZ_SECONDS, default 3) from its seed corpus in fuzz/corpus/. New
# inputs go to a scratch copy; a crash leaves its input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang
dir=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DQX_FUZZ=ON -DQX_SANITIZE=address,undefined \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_WERROR=ON >"$dir.configure.log" 2>&1 ||
  { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j"${QX_JOBS:-2}"
secs=${QX_FUZZ_SECONDS:-3}
for target in header drvinfo list notify handshake replies; do
  scratch=$(mktemp -d)
  cp fuzz/corpus/$target/* "$scratch/"
  echo "== fuzz_$target for ${secs}s"
  # Conversion failures write a line each to the inputs' stderr, which
  # -close_fd_mask=2 silences; libFuzzer's own report still arrives.
  if ! "$dir/fuzz/fuzz_$target" -max_total_time="$secs" -artifact_prefix="$dir/" -close_fd_mask=2 \
      "$scratch" >"$dir/fuzz_$target.log" 2>&1; then
    grep -v -E 'iconv' "$dir/fuzz_$target.log" | tail -40
    rm -rf "$scratch"
    echo "fuzz_$target found a crash" >&2
    exit 1
  fi
  grep -E '^#[0-9]+.*DONE' "$dir/fuzz_$target.log" || true
  rm -rf "$scratch"
done
