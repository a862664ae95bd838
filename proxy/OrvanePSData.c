// Class object, proxy file list and the standard self-registration of
// OrvanePS.dll: the system's own interfaces are registered unconditionally.
#define REGISTER_PROXY_DLL
#define PROXY_CLSID_IS                                                                 \
    {                                                                                  \
        0x730F7ED3, 0xA3D2, 0x455E, { 0xA3, 0xEE, 0x65, 0x66, 0x78, 0x49, 0x0B, 0xEF } \
    }
#include "OrvanePS/dlldata.c"
