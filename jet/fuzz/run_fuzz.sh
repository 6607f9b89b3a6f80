#!/usr/bin/env bash
# Builds the read fuzz target with clang (libFuzzer, ASan, UBSan) in its own
# build folder and runs it.
#
#   jet/fuzz/run_fuzz.sh [SECONDS] [extra libFuzzer flags...]
#
# Seeds are the small fixture files. Inputs that crash, leak or time out are
# written to jet/tests/corpus/ (the replay test runs every file there under
# ASan and UBSan in ctest); commit the ones worth keeping once fixed.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
shift || true
build=${TALLIMO_FUZZ_BUILD_DIR:-$here/build-fuzz}
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTALLIMO_FUZZ=ON -DTALLIMO_BUILD_BENCH=OFF
fi
cmake --build "$build" -j2 --target jet_fuzz_read
fixtures="$here/../shared/fixtures/jet4"
work="$build/fuzz-corpus"
mkdir -p "$work"
for f in adox_jet4.mdb empty2000.mdb V2000_no-password.mdb delColTestV2000.mdb; do
  [ -f "$work/seed-$f" ] || cp "$fixtures/$f" "$work/seed-$f"
done
out="$here/jet/tests/corpus"
mkdir -p "$out"
exec "$build/jet/jet_fuzz_read" "$work" -max_len=400000 -timeout=10 -rss_limit_mb=2048 \
  -max_total_time="$seconds" -artifact_prefix="$out/" "$@"
