#!/bin/sh
# Runs a script under Wine's cscript. Its output goes through a file: a COM server the script
# starts must not inherit the pipe CTest reads.
out=$(mktemp)
wine cscript.exe //Nologo "$(winepath -w "$1")" >"$out" 2>&1
status=$?
tr -d '\r' <"$out"
rm -f "$out"
exit $status
