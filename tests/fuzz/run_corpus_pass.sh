#!/usr/bin/env bash
# run_corpus_pass.sh FUZZER CORPUS: every saved input once, then a short fixed-seed run.
set -euo pipefail
fuzzer=$1
corpus=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$fuzzer" -seed=1 -runs=50000 -timeout=10 -max_len=256 -rss_limit_mb=4096 -print_final_stats=1 \
  "$scratch" "$corpus" 2>&1 | tail -n 12
