#!/usr/bin/env bash
# Checks the recorded bits of every plug-in on one platform's build, run through its emulator;
# on a difference, compares that run element by element with this machine's own run.
#
#   tests/golden/check_platform.sh LABEL WORK_DIR NATIVE_GOLDEN COMMAND...
#
# COMMAND... runs the platform's tulm_golden (emulator first); NATIVE_GOLDEN is this machine's.
set -uo pipefail
label=$1 work=$2 native=$3
shift 3
reference=tests/golden/reference_hashes.txt

echo "== recorded bits of every plug-in on $label"
"$@" --check "$reference" --dump "$work/golden.dump" && exit 0
echo "-- element by element, this machine's run against the run on $label:"
"$native" --dump "$work/golden_native.dump" >/dev/null
"$native" --compare "$work/golden_native.dump" "$work/golden.dump"
exit 1
