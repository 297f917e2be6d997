#!/usr/bin/env bash
# Builds the FindBlock benchmark optimised, without sanitizers, in its own
# build folder, runs it twice (fresh and warm allocator, see
# bench/find_block_bench.cpp) and prints the table for docs/performance.md:
# FindBlock's time against its floor (zlib inflate into a preallocated buffer
# plus SHA-256 of the same bytes) measured in the same run. Each case runs 5
# times, interleaved at random with the others; the table takes the fastest
# repetition of each, which is the least disturbed by whatever else the
# machine is doing.
#
#   scripts/bench.sh [extra Google Benchmark flags]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MSISTUB_BENCH_BUILD:-$root/build-bench}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="" >/dev/null
cmake --build "$build" --target find_block_bench -j2 >/dev/null
for allocator in fresh warm; do
  "$build/bench/find_block_bench" --allocator=$allocator \
    --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_out="$build/bench_$allocator.json" --benchmark_out_format=json "$@" >&2
done
python3 - "$build/bench_fresh.json" "$build/bench_warm.json" <<'PY'
import json, sys

def load(path):
    """Fastest repetition of each benchmark, by name."""
    best = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        name = b["name"].split("/min_time")[0]
        if name not in best or b["real_time"] < best[name]["real_time"]:
            best[name] = b
    return best

fresh, warm = load(sys.argv[1]), load(sys.argv[2])
print("| content | size | compression | floor (ms) | FindBlock, fresh pages (ms) | ratio | "
      "floor (ms) | FindBlock, warm allocator (ms) | ratio |")
print("|---|---|---|---|---|---|---|---|---|")
worst = {"fresh": 0.0, "warm": 0.0}
order = {"incompressible": 0, "3:1": 1, "1000:1": 2}
cases = sorted((n for n in fresh if n.startswith("floor/")),
               key=lambda n: (int(n.split("/")[2][:-3]), order[n.split("/")[1]]))
for name in cases:
    floor = fresh[name]
    case = name[len("floor/"):]
    kind, size = case.split("/", 1)
    cells = []
    for label, runs in (("fresh", fresh), ("warm", warm)):
        f, m = runs["floor/" + case]["real_time"], runs["FindBlock/" + case]["real_time"]
        worst[label] = max(worst[label], m / f)
        cells += ["%.2f" % f, "%.2f" % m, "%.3f" % (m / f)]
    print("| %s | %s | %.0f:1 | %s |" % (kind, size.replace("MiB", " MiB"), floor["ratio"],
                                        " | ".join(cells)))
print("\nWorst ratio: fresh pages %.3f, warm allocator %.3f" % (worst["fresh"], worst["warm"]))
PY
