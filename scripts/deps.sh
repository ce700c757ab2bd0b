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
