#!/usr/bin/env bash
# valgrind_octave.sh PLUGIN_DIR: runs the Octave tests (but the toolbox test, which compiles
# every plug-in again) once under valgrind's memcheck and fails on any invalid read or write,
# use of uninitialised memory, bad free or definitely lost block whose stack passes through
# one of our plug-ins (Octave's own findings are not ours to fix and are left out).
#
# Some valgrind releases cannot run Octave at all on some processors (valgrind 3.19 dies on
# an instruction of libhwy, which Octave loads at start-up, on AVX-512 machines). That is
# probed first; where it fails the check is not run and one line says so: the plug-ins'
# memory check inside Octave is then the AddressSanitizer run (octave_under_asan) alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
plugins=$1
octave=(octave-cli --no-gui --norc --no-history --quiet)

if ! command -v valgrind >/dev/null; then
  echo "valgrind memcheck: not run, valgrind is not installed; the memory check in Octave" \
    "was octave_under_asan (AddressSanitizer, LeakSanitizer) alone"
  exit 0
fi
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
if ! { valgrind --tool=none --log-file="$probe" "${octave[@]}" --eval 1 >/dev/null; } 2>/dev/null; then
  # Only valgrind's own limit is a reason to go without this check; anything else is a failure.
  where=$(grep -A1 'Unrecognised instruction' "$probe" | sed -n 's/.*at 0x[0-9A-F]*: //p' | head -n 1)
  if [ -z "$where" ]; then
    echo "valgrind cannot start Octave here:"
    cat "$probe"
    exit 1
  fi
  echo "valgrind memcheck: not run, $(valgrind --version) cannot run Octave on this processor" \
    "($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | xargs)): an instruction it does not" \
    "know in $where, before any plug-in loads; the memory check in Octave was octave_under_asan" \
    "(AddressSanitizer, LeakSanitizer, UBSan) alone"
  exit 0
fi

tests=()
for file in "$here"/test_*.m; do
  [ "$(basename "$file")" = test_toolbox.m ] || tests+=("$file")
done
log=$(mktemp)
trap 'rm -f "$probe" "$log"' EXIT
valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
  --show-leak-kinds=definite --num-callers=40 --log-file="$log" \
  "${octave[@]}" "$here/run_octave_test.m" "$plugins" "${tests[@]}"
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
echo "valgrind memcheck: no finding in the plug-ins ($(grep -c '\.mex)' "$log" || true) stack lines through them)"
