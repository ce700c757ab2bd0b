#!/usr/bin/env bash
# The qxdb-sim program: help, refusals, serving, and a clean stop on signals.
set -u
sim=$1
project=$2
# A cross build runs the program through its emulator (QXDB_EMULATOR).
run=(${QXDB_EMULATOR:-})
fail=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; [ -n "${pid:-}" ] && kill -KILL $pid 2>/dev/null' EXIT

"${run[@]}" "$sim" --help >"$tmp/help"
check "--help prints usage and exits 0" grep -q 'usage: qxdb-sim' "$tmp/help"
"${run[@]}" "$sim" "$tmp/none" 2>"$tmp/err"
check "a missing folder exits 1" test $? -eq 1
check "... and says why" grep -q "bad project folder: '$tmp/none' is not a folder" "$tmp/err"
mkdir "$tmp/bad" && printf 'name X\nbogus 1\n' >"$tmp/bad/project.txt"
"${run[@]}" "$sim" "$tmp/bad" 2>"$tmp/err"
check "a bad project.txt names the line" grep -q "line 2: unknown setting 'bogus'" "$tmp/err"
"${run[@]}" "$sim" --port x "$project" 2>/dev/null
check "a bad port exits 2" test $? -eq 2

for sig in INT TERM; do
  "${run[@]}" "$sim" --port 0 "$project" >"$tmp/out" 2>&1 &
  pid=$!
  for _ in $(seq 100); do grep -q listening "$tmp/out" && break; sleep 0.05; done
  check "serves the project ($sig round)" grep -q "project 'WaterWorks' listening on 127.0.0.1:" "$tmp/out"
  port=$(grep -o '127\.0\.0\.1:[0-9]*' "$tmp/out" | cut -d: -f2)
  if [ $sig = INT ]; then
    "${run[@]}" "$sim" --port "$port" "$project" 2>"$tmp/err"
    check "a busy port exits 1" test $? -eq 1
    check "... and says so" grep -q "cannot listen on 127.0.0.1:$port: Address already in use" "$tmp/err"
  fi
  kill -$sig $pid
  for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done
  wait $pid
  check "SIG$sig stops it with status 0" test $? -eq 0
  pid=
done

printf 'count g\nbogus\nset PLC1 Nope 1\n' |
  timeout 10 "${run[@]}" "$sim" --port 0 --commands "$project" >"$tmp/out" 2>&1
check "--commands stops at the end of its input" test $? -eq 0
check "... answers a command" grep -qx "ok 0" "$tmp/out"
check "... refuses an unknown one" grep -qx "error: unknown command 'bogus'" "$tmp/out"
check "... and an unknown tag" grep -qx "error: no tag PLC1 Nope" "$tmp/out"
exit $fail
