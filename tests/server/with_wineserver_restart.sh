#!/bin/bash
# Runs a test program that kills a client of Orvane.exe. Wine releases no
# references of a dead client, so that server process never ends by itself;
# restarting the wineserver ends it and clears its class registration for the
# tests after this one.
wine "$@" </dev/null
rc=$?
wineserver -k
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
exit $rc
