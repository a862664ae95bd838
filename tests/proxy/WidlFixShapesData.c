// The proxy/stub of widlfix_shapes.idl, linked into the test itself; the test
// registers its factory for its own process only (CoRegisterPSClsid).
#define ENTRY_PREFIX Shapes
#define PROXY_CLSID_IS                                                                 \
    {                                                                                  \
        0x6329E8CD, 0x5EB2, 0x4E7F, { 0xB7, 0xE8, 0xE1, 0x84, 0x04, 0x2F, 0x7E, 0xCF } \
    }
#include "shapes/dlldata.c"
