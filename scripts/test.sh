#!/usr/bin/env bash
# Configures, builds and runs every test through CTest: under AddressSanitizer
# with UBSan, under ThreadSanitizer, the fuzz targets for a few seconds each,
# the armhf cross-build under qemu-arm (scripts/test-armhf.sh), and last the
# plain build, whose summary ends the output. The plain build's
# Python tests run against the module as pip installs it into a fresh
# virtual environment, its Node tests against the addon as npm builds it.
#   scripts/test.sh            everything
#   QX_SKIP_SANITIZERS=1 ...   no sanitizer builds or fuzzing
#   QX_SKIP_ARMHF=1 ...        no armhf cross-build
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${QX_JOBS:-2}
py=/usr/bin/python3  # the Debian Python, which has setuptools and wheel

scripts/deps.sh
stage() { echo "== $* (at ${SECONDS} s)"; }

build() {  # dir, extra cmake args...
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -DQX_WERROR=ON -DPython3_EXECUTABLE=$py "$@" \
    >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j"$jobs"
}

run_ctest() {  # dir, extra ctest args...
  local dir=$1
  shift
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 120 "$@")
}

mkdir -p build
stage "pip install into a fresh virtual environment"
rm -rf build/venv
$py -m venv --system-site-packages build/venv
build/venv/bin/pip install -q --no-index --no-build-isolation --disable-pip-version-check .
(cd /tmp && "$root/build/venv/bin/python" -c "import QxDBAccess")
stage "npm ci: the addon as npm builds it, and the TypeScript check of index.d.ts"
npm ci --no-audit --no-fund --loglevel=error
npm run --silent typecheck
build build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQX_PYTHON_TEST_EXE="$root/build/venv/bin/python" -DQX_PYTHON_TEST_INSTALLED=ON \
  -DQX_NODE_TEST_NPM=ON
if [ "${QX_SKIP_SANITIZERS:-0}" != 1 ]; then
  build build/asan -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=address,undefined -DQX_BUILD_BENCH=OFF
  stage "tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_ctest build/asan
  build build/tsan -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=thread -DQX_PYTHON=OFF -DQX_NODE=OFF \
    -DQX_BUILD_BENCH=OFF
  stage "tests under ThreadSanitizer"
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build/tsan
  scripts/fuzz.sh
fi
# Linux 32-bit ARM, under emulation: the unit tests and both deliverables.
if [ "${QX_SKIP_ARMHF:-0}" != 1 ]; then
  stage "armhf"
  scripts/test-armhf.sh
fi
stage "tests"
run_ctest build/plain
stage "done"
