#!/bin/sh
# The CTest test "fuzz_corpora": builds the fuzz targets with clang in the
# folder given as $1 and runs each over its seed corpus (scripts/fuzz.sh).
# Without clang and libFuzzer the test is skipped (exit status 77).
build=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' >"$probe/probe.cpp"
if ! command -v clang++ >/dev/null 2>&1 \
  || ! clang++ -fsanitize=fuzzer,address "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
  echo "fuzz_corpora skipped: clang++ with libFuzzer is not installed (Debian: clang libclang-rt-14-dev)"
  exit 77
fi
# Every input of the seed corpora runs once and nothing more: the test gives
# the same answer on every run, and new findings come from scripts/fuzz.sh.
ZEL_FUZZ_OPTIONS=${ZEL_FUZZ_OPTIONS:--runs=0} ZEL_FUZZ_BUILD=$build ZEL_FUZZ_SECONDS=${ZEL_FUZZ_SECONDS:-3} exec "$source_dir/scripts/fuzz.sh"
