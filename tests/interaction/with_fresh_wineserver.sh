#!/bin/bash
# Runs a test program that starts the bus simulator with a topology of its own. A
# simulator left by an earlier test (a client that died keeps it alive) would answer
# instead, and this one must not outlive the program: the wineserver is restarted
# before and after, which ends every process of the prefix and its class registrations.
restart() {
    wineserver -k
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
}
restart
wine "$@" </dev/null
rc=$?
restart
exit $rc
