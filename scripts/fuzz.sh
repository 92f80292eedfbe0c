#!/bin/sh
# Runs the libFuzzer targets of tests/fuzz, building them first when needed.
#
#   scripts/fuzz.sh TARGET SECONDS   fuzz one target (e.g. "version" or
#                                    "fuzz_version") for SECONDS
#   scripts/fuzz.sh                  a short round of every target: each runs
#                                    over its seed corpus, then fuzzes for
#                                    ZEL_FUZZ_SECONDS (default 5)
#
# The targets need clang and libFuzzer (Debian: clang libclang-rt-14-dev). They
# are built in ZEL_FUZZ_BUILD (default: build-fuzz in the repository). New
# inputs and findings go to the "fuzz-work" folder of that build; the seed
# corpora in tests/fuzz/corpus are only read. A crash, leak, hang or failed
# check ends the script with a non-zero status; the input that caused it is
# saved as fuzz-work/<target>/crash-* (reproduce: run the target on that file).
# Extra libFuzzer options may be given in ZEL_FUZZ_OPTIONS.
set -e
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEL_FUZZ_BUILD:-$source_dir/build-fuzz}
seconds=${ZEL_FUZZ_SECONDS:-5}
jobs=${ZEL_FUZZ_JOBS:-2}

# The targets' sandboxes see many small files made and removed per input: in
# memory that is several times faster than on disk.
if [ -z "$TMPDIR" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEL_FUZZ=ON >/dev/null
fi
cmake --build "$build" --target fuzz_targets -j "$jobs"

run_target() {
  name=${1#fuzz_}
  program="$build/tests/fuzz/fuzz_$name"
  [ -x "$program" ] || { echo "fuzz.sh: no target fuzz_$name" >&2; exit 2; }
  work="$build/fuzz-work/$name"
  mkdir -p "$work/corpus"
  dict=""
  [ -f "$source_dir/tests/fuzz/fuzz_$name.dict" ] && dict="-dict=$source_dir/tests/fuzz/fuzz_$name.dict"
  echo "fuzz.sh: fuzz_$name for $2 s"
  # Leaks are looked for in every run; a slow input counts as a hang.
  # shellcheck disable=SC2086
  "$program" -max_total_time="$2" -timeout=20 -rss_limit_mb=3072 -error_exitcode=1 -print_final_stats=1 \
    -artifact_prefix="$work/" $dict $ZEL_FUZZ_OPTIONS "$work/corpus" "$source_dir/tests/fuzz/corpus/$name"
}

if [ $# -ge 1 ]; then
  run_target "$1" "${2:-60}"
  exit
fi
for source in "$source_dir"/tests/fuzz/fuzz_*.cpp; do
  name=$(basename "$source" .cpp)
  run_target "$name" "$seconds"
done
echo "fuzz.sh: every target ran without a finding"
