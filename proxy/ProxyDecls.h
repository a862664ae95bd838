// Forced into every widl-generated proxy file: the generated vtables name
// these three IUnknown proxies, which MinGW's headers do not declare
// (its rpcrt4 import library exports them).
#ifndef ORVANE_PROXYDECLS_H
#define ORVANE_PROXYDECLS_H

#include <objbase.h>

#ifdef __cplusplus
extern "C" {
#endif

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid,
                                                        void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#ifdef __cplusplus
}
#endif

#endif
