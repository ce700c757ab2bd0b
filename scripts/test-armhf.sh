#!/usr/bin/env bash
# Linux 32-bit ARM (armhf): cross-builds the core, the simulator and the unit
# tests with warnings as errors and runs them through CTest under qemu-arm;
# then cross-builds the Python module against Debian's armhf Python 3.11 and
# the Node addon for Debian's armhf nodejs, and runs a smoke test of each
# under emulation against the armhf simulator. Installs what it needs with
# apt-get; the armhf Python and Node go into build/armhf-sysroot.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${QX_JOBS:-2}
dir=build/armhf
sysroot=$root/build/armhf-sysroot

need=()
command -v arm-linux-gnueabihf-g++ >/dev/null || need+=(g++-arm-linux-gnueabihf)
command -v qemu-arm >/dev/null || need+=(qemu-user)
[ -e /usr/lib/arm-linux-gnueabihf/libgtest.a ] || need+=(libgtest-dev:armhf)
# The target's loader and C++ runtime, where qemu-arm finds them; iconv's
# converters come with libc6.
[ -e /lib/ld-linux-armhf.so.3 ] || need+=(libc6:armhf)
[ -e /usr/lib/arm-linux-gnueabihf/libstdc++.so.6 ] || need+=(libstdc++6:armhf)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx armhf || dpkg --add-architecture armhf
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi

echo "== armhf: core, simulator and unit tests under qemu-arm"
mkdir -p build
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/armhf.cmake" -DQX_WERROR=ON \
  -DCMAKE_BUILD_TYPE=Release -DQX_PYTHON=OFF -DQX_NODE=OFF -DQX_BUILD_BENCH=OFF \
  >"$dir.configure.log" 2>&1 ||
  { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j"$jobs"
(cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 120)

echo "== armhf: the deliverables"
py_pkgs="python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libpython3.11-dev libc6
  libexpat1 zlib1g libgcc-s1 libstdc++6 libffi8 libssl3 libbz2-1.0 liblzma5 libcrypt1 libuuid1"
node_pkgs="nodejs libnode108 libuv1 libc-ares2 libnghttp2-14 libbrotli1 libicu72"
node_js="node-acorn node-busboy node-cjs-module-lexer node-undici node-xtend"
if [ ! -e "$sysroot/.complete" ]; then
  rm -rf "$sysroot" "$sysroot.debs"
  mkdir -p "$sysroot" "$sysroot.debs"
  (cd "$sysroot.debs" &&
    apt-get download -qq $(for p in $py_pkgs $node_pkgs; do echo "$p:armhf"; done) $node_js)
  for deb in "$sysroot.debs"/*.deb; do dpkg -x "$deb" "$sysroot"; done
  touch "$sysroot/.complete"
fi

cxx=(arm-linux-gnueabihf-g++ -std=c++17 -O2 -fPIC -shared -fvisibility=hidden -Wall -Wextra
     -Werror -Isrc -Isrc/nonwin -Isrc/QxDBAccess)
mod_src=$(sed -n '/Python3_add_library(QxDBAccess MODULE WITH_SOABI/,/)/p' src/CMakeLists.txt |
          grep -o 'QxDBAccess/[A-Za-z_]*\.cpp' | sed 's|^|src/|')
addon_src=$(sed -n '/add_library(QxDBAccess_node MODULE/,/)/p' src/CMakeLists.txt |
            grep -o 'QxDBAccess/[A-Za-z_]*\.cpp' | sed 's|^|src/|')
mkdir -p "$dir/python" "$dir/node"
"${cxx[@]}" -isystem "$sysroot/usr/include/python3.11" \
  -idirafter "$sysroot/usr/include" $mod_src \
  "$dir/src/libqxdbcore.a" -Wl,--exclude-libs,ALL -pthread \
  -o "$dir/python/QxDBAccess.cpython-311-arm-linux-gnueabihf.so"
"${cxx[@]}" -isystem /usr/include/node $addon_src "$dir/src/libqxdbcore.a" \
  -Wl,--exclude-libs,ALL -pthread -o "$dir/node/QxDBAccess.node"

out=$(mktemp)
qemu-arm "$dir/sim/qxdb-sim" --port 0 examples/project >"$out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 100); do grep -q listening "$out" && break; sleep 0.1; done
host=$(grep -o '127\.0\.0\.1:[0-9]*' "$out")
[ -n "$host" ] || { cat "$out"; echo "armhf: the simulator did not start" >&2; exit 1; }
# The interpreters run from the sysroot, whose libraries they find by -L.
PYTHONPATH="$dir/python" timeout 120 qemu-arm -L "$sysroot" "$sysroot/usr/bin/python3.11" \
  tests/armhf/smoke.py "$host"
timeout 120 qemu-arm -L "$sysroot" "$sysroot/usr/bin/node" tests/armhf/smoke.js \
  "$root/$dir/node/QxDBAccess.node" "$host"
