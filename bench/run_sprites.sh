#!/bin/sh
# Runs the sprite benchmark and its plain-GL reference on one private Xvfb
# and prints the frame-time ratio for each sprite count. The two programs
# take turns, one count at a time, so that a change in machine load hits
# both alike. Then the text-heavy frame. Builds nothing: build the targets
# bench_sprites and bench_sprites_ref first.
#   bench/run_sprites.sh [build directory]     (default: build)
set -e
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
OUT="$(mktemp)"
trap 'rm -f "$OUT"' EXIT
python3 tests/harness/with_xvfb.py sh -c "
  for n in 1000 10000 50000; do
    '$BUILD/bench/bench_sprites' \$n && '$BUILD/bench/bench_sprites_ref' \$n && echo
  done
  '$BUILD/bench/bench_sprites' text" 2>/dev/null | tee "$OUT" | grep -v -e '^RESULT' -e '^ *[0-9]*> '
echo
echo "| sprites | framework ms | reference ms | ratio |"
awk '$1 == "RESULT" && $2 == "ours" { ours[$3] = $4 }
     $1 == "RESULT" && $2 == "reference" { ref[$3] = $4 }
     END { for (n in ours) if (n in ref) printf "| %7d | %12.3f | %12.3f | %5.2f |\n", n, ours[n], ref[n], ours[n] / ref[n] }' "$OUT" | sort -t'|' -k2 -n
