# Sourced by the scripts: the build folder and the Wine prefix owned by the build.
ORVANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export ORVANE_ROOT
export ORVANE_BUILD="${ORVANE_BUILD:-$ORVANE_ROOT/build}"
export WINEPREFIX="$ORVANE_BUILD/wine"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
