#!/usr/bin/env bash
# Builds and runs the benchmarks (release build), then prints each figure as
# a ratio to the baseline measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=build/bench
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQX_BUILD_TESTS=OFF \
  -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$dir" -j"${QX_JOBS:-2}" \
  --target connect_bench transfer_bench tags_bench qxdb-sim QxDBAccess QxDBAccess_node \
  tsfn_baseline >/dev/null
"$dir/bench/connect_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out="$dir/connect.json" --benchmark_out_format=json
python3 - "$dir/connect.json" <<'PY'
import json, sys
rows = {b["run_name"]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
base = rows["BM_RawTwoConnections"]
print("\nmedians, as ratios to two raw loopback connections (%.3f ms):" % base)
for name in ("BM_Connect/manual_time", "BM_Disconnect/manual_time"):
    print("  %-14s %8.3f ms  %7.1fx" % (name.split("/")[0], rows[name], rows[name] / base))
PY

"$dir/bench/transfer_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out="$dir/transfer.json" --benchmark_out_format=json
python3 - "$dir/transfer.json" <<'PY'
import json, sys
rows = {b["run_name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
base = rows["BM_PlainSocketCopy/iterations:3"]["real_time"]
print("\n64 MiB over loopback, medians, as ratios to a plain socket copy (%.1f ms, %.0f MiB/s):"
      % (base, 64 * 1000.0 / base))
for name, label in (("BM_GetFile/paced:1/iterations:3", "GetFile, paced"),
                    ("BM_GetFile/paced:0/iterations:3", "GetFile, unpaced")):
    t = rows[name]["real_time"]
    print("  %-17s %8.1f ms  %6.0f MiB/s  %5.2fx the time" % (label, t, 64 * 1000.0 / t, t / base))
PY

"$dir/bench/tags_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out="$dir/tags.json" --benchmark_out_format=json
python3 - "$dir/tags.json" <<'PY'
import json, re, sys
med = [b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "median"]
rows = {re.sub(r"/iterations:\d+", "", b["run_name"]): b for b in med}
t = lambda name: rows[name]["real_time"]
print("\ntags, medians:")
raw, one = t("BM_RawRoundTrip"), t("BM_ReadOneTag")
print("  one-tag read      %7.1f us   %5.2fx a raw request/reply of the same sizes (%.1f us)"
      % (one, one / raw, raw))
print("  1000-tag read     %7.3f us a tag" % (t("BM_Read1000Tags") / 1000))
print("  1000-tag advise   %7.3f us a tag" % (t("BM_Advise1000Tags") / 1000))
print("  50000-tag read    %7.3f us a tag (one call)" % (t("BM_Read50000Tags") * 1000 / 50000))
print("  50000-tag advise  %7.3f us a tag (one call)" % (t("BM_Advise50000Tags") * 1000 / 50000))
n = 200000
print("\nnotifications framed, decoded into their tags and handed to a no-op hook,")
print("as the rate of a loop that only receives the same bytes:")
for kind, label in ((0, "I4, 8-byte records"), (1, "R8, 12-byte records"), (2, "text, 32-byte records")):
    recv, hook = t("BM_RawReceive/%d" % kind), t("BM_NotifyToHook/%d/1000" % kind)
    allocs = rows["BM_NotifyToHook/%d/1000" % kind].get("allocs_per_change", 0)
    print("  %-22s %6.2f M/s  %5.2fx of %6.2f M/s  (%.4f allocations a change)"
          % (label, n / hook / 1000, recv / hook, n / recv / 1000, allocs))
print("cost a change (I4) by the number of tags that change:")
for tags in (1, 1000, 50000):
    hook = t("BM_NotifyToHook/0/%d" % tags)
    print("  %6d tags  %6.1f ns a change" % (tags, hook * 1e6 / n))
PY

echo
PYTHONPATH="$dir/python" /usr/bin/python3 bench/python_bench.py "$dir/sim/qxdb-sim"
QXDB_ADDON="$PWD/$dir/node/QxDBAccess.node" node bench/node_bench.js "$dir/sim/qxdb-sim" \
  "$dir/node/tsfn_baseline.node"
PYTHONPATH="$dir/python:$PWD/python" /usr/bin/python3 bench/python_async_bench.py "$dir/sim/qxdb-sim"
QXDB_ADDON="$PWD/$dir/node/QxDBAccess.node" node bench/node_async_bench.js "$dir/sim/qxdb-sim"
