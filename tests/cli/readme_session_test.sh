#!/usr/bin/env bash
# The README's command-line session, run as a reader would paste it, with
# the build folder under test in place of build/plain.
set -euo pipefail
root=$1
build=$2
cd "$root"
session=$(sed -n '/^A session to paste/,/^```$/p' README.md | sed -n '/^```sh$/,/^```$/p' | sed '1d;$d')
[ -n "$session" ] || { echo "no session in README.md"; exit 1; }
session=${session//build\/plain/$build}
out=$(timeout 60 bash -c "$session" 2>&1) || { echo "$out"; echo "FAILED: the session"; exit 1; }
echo "$out"
# Values the simulation does not change, so that they read back as written.
for want in "project  WaterWorks" "NoSuchTag  no such tag" "Pump1.Mode <- manual (STR)" \
            '"value":"manual"' '"value":22.5' "Tank1.Level = "; do
  grep -qF -- "$want" <<<"$out" || { echo "FAILED: no '$want'"; exit 1; }
done
echo "ok: the README session"
