#!/usr/bin/env bash
# Builds the simulator and the examples, serves the sample project on a free
# loopback port, connects to it and prints what the connect learned, then
# advises, reads and writes tags and prints the live changes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=build/plain
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"${QX_JOBS:-2}" --target qxdb-sim qxdb-connect qxdb-tags >/dev/null

out=$(mktemp)
"$dir/sim/qxdb-sim" --port 0 examples/project >"$out" &
sim=$!
trap 'kill -TERM $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 100); do
  grep -q 'listening on' "$out" && break
  kill -0 $sim 2>/dev/null || { cat "$out"; echo "demo: the simulator did not start" >&2; exit 1; }
  sleep 0.05
done
addr=$(grep -o '127\.0\.0\.1:[0-9]*' "$out" | head -n1)
# The client's cache for this server; removed again at exit.
trap 'kill -TERM $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -f "$out"; rm -rf "/tmp/qxbrowser/${addr/:/_}"' EXIT
[ -n "$addr" ] || { echo "demo: the simulator did not report its port" >&2; exit 1; }
echo "simulator: $(head -n1 "$out")"
"$dir/examples/qxdb-connect" "$addr" operator op123
echo
"$dir/examples/qxdb-tags" "$addr" operator op123
