#!/usr/bin/env bash
# valgrind_octave.sh PLUGIN_DIR TEST_FILE...: runs the Octave tests once under valgrind's
# memcheck and fails on any invalid read or write, use of uninitialised memory, bad free or
# definitely lost block whose stack passes through one of our plug-ins (Octave's own
# findings are not ours to fix and are left out).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
  --show-leak-kinds=definite --num-callers=40 --log-file="$log" \
  octave-cli --no-gui --norc --no-history --quiet "$here/run_octave_test.m" "$@"
# One record per blank-line-separated block of the log; keep those that name a plug-in.
ours=$(awk '
  /^==[0-9]+== $/ { if (record ~ /\.mex\)/ && record ~ /(Invalid|uninitialised|free|definitely lost)/) print record; record = ""; next }
  { record = record $0 "\n" }
' "$log")
if [ -n "$ours" ]; then
  echo "memcheck findings in the plug-ins:"
  echo "$ours"
  exit 1
fi
echo "memcheck: no finding in the plug-ins ($(grep -c '\.mex)' "$log" || true) stack lines through them)"
