// Class object and proxy file list of OrvaneOpcPS.dll. Its own proxy CLSID:
// the standard OPC proxy/stub (opcproxy.dll) uses the first IID as its CLSID,
// and this DLL must be able to coexist with it.
#define PROXY_CLSID_IS                                                                 \
    {                                                                                  \
        0xA619CAEB, 0x807B, 0x446C, { 0xA5, 0x2F, 0x1C, 0xA6, 0x58, 0x1D, 0xCF, 0xD4 } \
    }
#include "OrvaneOpcPS/dlldata.c"
