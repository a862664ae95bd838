#!/bin/sh
# Runs a script under vbshost.exe; its output goes through a file, as in run_script.sh.
out=$(mktemp)
wine "$1" "$(winepath -w "$2")" >"$out" 2>&1
status=$?
tr -d '\r' <"$out"
rm -f "$out"
exit $status
