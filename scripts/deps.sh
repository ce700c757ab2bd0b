#!/usr/bin/env bash
# Installs with apt-get whatever the build needs and this machine lacks.
# On a machine of the usual kind nothing is missing and nothing is fetched.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_file() { [ -e "$1" ]; }

have_cmd g++ || need+=(g++)
have_cmd cmake || need+=(cmake)
have_file /usr/include/gtest/gtest.h || need+=(libgtest-dev)
have_file /usr/include/benchmark/benchmark.h || need+=(libbenchmark-dev)
# qxdb's argument parsing and JSON.
have_file /usr/include/CLI/CLI.hpp || need+=(libcli11-dev)
have_file /usr/include/nlohmann/json.hpp || need+=(nlohmann-json3-dev)
# The Python module builds for, and installs into, the system's Python.
have_py() { /usr/bin/python3 -c "import $1" >/dev/null 2>&1; }
have_cmd /usr/bin/python3 || need+=(python3)
compgen -G "/usr/include/python3*/Python.h" >/dev/null || need+=(python3-dev)
have_py ensurepip || need+=(python3-venv)
have_py setuptools || need+=(python3-setuptools)
have_py wheel || need+=(python3-wheel)
# The Node addon: node, npm, and Node's headers with common.gypi.
have_cmd node || need+=(nodejs)
have_cmd npm || need+=(npm)
have_file /usr/include/node/node_api.h || need+=(libnode-dev)
for extra in "$@"; do
  case "$extra" in
    clang)
      have_cmd clang++ || need+=(clang)
      ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
        need+=(libclang-rt-dev)
      ;;
  esac
done

if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi
