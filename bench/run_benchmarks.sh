#!/usr/bin/env bash
# Runs every benchmark: the C++ programs built into build/bench/ (each prints its own table),
# then the Octave benchmarks bench/bench_*.m against build/octave.
set -euo pipefail
cd "$(dirname "$0")/.."
for program in build/bench/bench_*; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program"
done
for script in bench/bench_*.m; do
  [ -e "$script" ] || continue
  name=$(basename "$script" .m)
  echo "== $name"
  octave-cli --no-gui --norc --no-history --quiet \
    --eval "addpath('build/octave'); addpath('examples'); addpath('bench'); $name();"
done
