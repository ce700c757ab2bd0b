#!/usr/bin/env bash
# The demo: builds the simulator, the Python module and the Node addon,
# serves the sample project on a free loopback port, and runs the Python
# examples against it (reads and writes, live changes, and the alarms the
# changing level raises), then a Node one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=build/plain
py=/usr/bin/python3
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_EXECUTABLE=$py >/dev/null
cmake --build "$dir" -j"${QX_JOBS:-2}" --target qxdb-sim QxDBAccess QxDBAccess_node >/dev/null
export PYTHONPATH=$dir/python:$PWD/python
export QXDB_ADDON=$PWD/$dir/node/QxDBAccess.node

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
echo
echo "== examples/read_write.py"
$py examples/read_write.py "$addr" operator op123
echo
echo "== examples/subscribe.py: live changes for 4 s"
$py examples/subscribe.py "$addr" 4
echo
echo "== examples/alarms.py: alarms for 5 s"
alarms=$($py examples/alarms.py "$addr" 5)
echo "$alarms"
grep -q raised <<<"$alarms" || { echo "demo: no alarm was raised" >&2; exit 1; }
echo
echo "== examples/subscribe.js: live changes for 2 s, in Node"
node examples/subscribe.js "$addr" 2
echo
echo "== examples/async_watch.py: the asyncio API for 2 s"
$py examples/async_watch.py "$addr" 2
echo
echo "== examples/async_watch.js: the Client for 2 s, in Node"
node examples/async_watch.js "$addr" 2
