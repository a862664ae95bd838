#!/bin/bash
# Builds leak.c twice, with the proxy/stub as widl -Oif writes it and with the two [in]
# VARIANT parameters re-pointed at their FC_RP entries, and runs both under Wine in a
# throw-away prefix. Needs: wine64, wine64-tools (widl-stable), libwine-dev, MinGW-w64.
set -euo pipefail
cd "$(dirname "$0")"
out=$(mktemp -d)
trap 'WINEPREFIX=$out/wine wineserver -k 2>/dev/null || true; rm -rf "$out"' EXIT
widl="widl-stable -I /usr/include/wine/wine/windows --win64 -Oif"
$widl -h -o "$out/leak.h" leak.idl
$widl -u -o "$out/leak_i.c" leak.idl
$widl -p -o "$out/leak_p.c" leak.idl
widl-stable --dlldata-only -o "$out/dlldata.c" leak
# The same parameters described through the FC_RP entry that widl also writes for them:
# flags without IsSimpleRef (0x0100), type offset of that entry.
python3 - "$out/leak_p.c" "$out/leak_p_rp.c" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
# Every FC_RP entry "/* N ... */ 0x11, 0x0, NdrFcShort(delta)" points at N + 2 + delta.
for m in re.finditer(r'/\* (\d+)(?: \([^)]*\))? \*/\s*0x11, 0x0,\s*/\*[^*]*\*/\s*'
                     r'NdrFcShort\(0x([0-9a-f]+)\)', text):
    entry, delta = int(m.group(1)), int(m.group(2), 16)
    target = entry + 2 + (delta - 0x10000 if delta & 0x8000 else delta)
    # A parameter "in, simple ref" (0x10b) naming that target names the FC_RP instead.
    text = re.sub(r'NdrFcShort\(0x10b\),(\s*/\*[^*]*\*/\s*NdrFcShort\(0x[0-9a-f]+\),'
                  r'\s*/\*[^*]*\*/\s*)NdrFcShort\(' + hex(target) + r'\)',
                  lambda p: 'NdrFcShort(0xb),' + p.group(1) + 'NdrFcShort(%s)' % hex(entry), text)
open(sys.argv[2], 'w').write(text)
PY
cat > "$out/decls.h" <<'H'
#include <objbase.h>
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *, REFIID, void **);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *);
H
cc="x86_64-w64-mingw32-gcc-posix -O2 -static -DWIN32 -I$out -include $out/decls.h"
libs="-lrpcrt4 -lole32 -loleaut32 -luuid"
$cc -o "$out/leak.exe" leak.c "$out/leak_p.c" "$out/leak_i.c" "$out/dlldata.c" $libs 2>/dev/null
$cc -o "$out/leak_rp.exe" leak.c "$out/leak_p_rp.c" "$out/leak_i.c" "$out/dlldata.c" $libs 2>/dev/null
export WINEPREFIX=$out/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
wine wineboot -i >/dev/null 2>&1
echo "as widl writes it:"
wine "$out/leak.exe" > "$out/a.txt" 2>/dev/null; cat "$out/a.txt"
echo "through the FC_RP entries:"
wine "$out/leak_rp.exe" > "$out/b.txt" 2>/dev/null; cat "$out/b.txt"
