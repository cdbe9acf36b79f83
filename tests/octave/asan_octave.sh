#!/usr/bin/env bash
# asan_octave.sh PLUGIN_DIR TEST_FILE...: runs the Octave tests against plug-ins built with
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, loaded into octave-cli with
# the sanitizer runtime preloaded (TULM_CXX names the compiler whose runtime that is,
# TULM_PRELOAD the built keep_plugins_loaded library).
# asan_octave.sh --interrupt PLUGIN_DIR [CASE...]: runs interrupt_octave.py (Ctrl-C in an
# interactive session; TULM_PYTHON names its Python) with that same Octave, so that what an
# interrupted call leaves behind is checked as a finished call's is.
# Fails when a test fails, on any sanitizer error (an invalid access, double free or undefined
# behaviour ends Octave at once), and on any leak whose allocation stack passes through one of
# our plug-ins.
#
# Octave leaks at exit on its own (hundreds to thousands of records). They are not filtered by a
# suppressions file: LeakSanitizer suppresses a record when any frame of its stack matches,
# and every plug-in call is made from liboctinterp, so naming Octave's libraries would hide
# the plug-ins' leaks too. Instead every record is kept and only those naming a plug-in fail.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=tests
if [ "${1:-}" = --interrupt ]; then
  mode=interrupt
  shift
fi
runtime=$("${TULM_CXX:-c++}" -print-file-name=libasan.so)
if [ ! -e "$runtime" ] || [ ! -e "${TULM_PRELOAD:-}" ]; then
  echo "asan_octave.sh: needs TULM_CXX with an AddressSanitizer runtime and TULM_PRELOAD" >&2
  exit 1
fi
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Each frame is printed with its module, so that a plug-in shows as <.../NAME.mex> whether or
# not the frame has a source line. The sanitizers' exit code is 0 (they share it, and
# Octave's own leaks would always set it): their reports decide, not the status. Only Octave
# gets the runtime: the driver's Python would add leak records of its own.
#
# The fast unwinder follows frame pointers, which Octave's libraries do not keep: its stacks of
# Octave's allocations end in stray addresses, and at exit LeakSanitizer reads the process's
# whole memory map again for each one, about 30 s here. The interactive session allocates
# little, so exact unwinding costs it less than that (its exit takes 3 s); the test files
# allocate so much that it would make them three times as slow.
asan=detect_leaks=1:exitcode=0:malloc_context_size=64:log_path=$logs/report
asan+=":stack_trace_format='    #%n %p %F %L <%m>'"
if [ "$mode" = interrupt ]; then asan+=:fast_unwind_on_malloc=0; fi
octave=(env "LD_PRELOAD=$runtime:$TULM_PRELOAD" "ASAN_OPTIONS=$asan"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$logs/report"
  octave-cli)
status=0
if [ "$mode" = tests ]; then
  ran=octave-cli
  "${octave[@]}" --no-gui --norc --no-history --quiet "$here/run_octave_test.m" "$@" || status=$?
else
  ran=interrupt_octave.py
  TULM_OCTAVE="${octave[*]@Q}" "${TULM_PYTHON:-python3}" "$here/interrupt_octave.py" "$@" ||
    status=$?
fi
reports=$(cat "$logs"/report.* 2>/dev/null || true)

if grep -q -E "ERROR: AddressSanitizer|runtime error" <<<"$reports"; then
  echo "a sanitizer stopped Octave:"
  grep -A40 -E "ERROR: AddressSanitizer|runtime error" <<<"$reports" | head -n 60
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "$ran ended with status $status"
  exit 1
fi
# One record per blank-line-separated block; keep the leaks that name a plug-in.
ours=$(awk '
  /^$/ { if (record ~ /leak of/ && record ~ /\.mex>/) print record; record = ""; next }
  { record = record $0 "\n" }
  END { if (record ~ /leak of/ && record ~ /\.mex>/) print record }
' <<<"$reports")
if [ -n "$ours" ]; then
  echo "LeakSanitizer: leaks allocated in the plug-ins:"
  echo "$ours"
  exit 1
fi
if ! grep -q "ERROR: LeakSanitizer" <<<"$reports"; then
  # Octave always leaks a little at exit: no leak report at all means no leak check ran.
  echo "LeakSanitizer did not report at exit: the leak check did not run"
  exit 1
fi
echo "AddressSanitizer, LeakSanitizer, UBSan: no finding in the plug-ins" \
  "($(grep -c 'leak of' <<<"$reports") leak records of Octave's own left out)"
