/* Wine 8's interpreted stub (NdrStubCall2) leaks the memory it allocates for an [in] parameter
 * described as a simple reference (IsSimpleRef) to a VARIANT or to an array of VARIANTs: one
 * heap block per call. The same parameter described through its FC_RP entry (leak_p_rp.c,
 * made by run.sh) is freed.
 *
 * One process: the object lives in a single-threaded apartment, the caller in the
 * multithreaded one, so every call goes through the widl -Oif proxy, the RPC channel and the
 * stub. The process heap, where CoTaskMemAlloc allocates, is walked before and after each run
 * of calls. */
#define COBJMACROS
#include <windows.h>
#include <stdio.h>

#include "leak.h"

HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, void**); /* from dlldata.c */

static HRESULT WINAPI Sink_QueryInterface(IValueSink* This, REFIID riid, void** ppv) {
    if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IValueSink)) {
        *ppv = This;
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}
static ULONG WINAPI Sink_AddRef(IValueSink* This) { return 2; }
static ULONG WINAPI Sink_Release(IValueSink* This) { return 1; }
static HRESULT WINAPI Sink_PutVariants(IValueSink* This, DWORD count, VARIANT* values) {
    return count == 2 && V_VT(&values[0]) == VT_I4 && V_I4(&values[0]) == 7 &&
                   V_VT(&values[1]) == VT_BSTR && !lstrcmpW(V_BSTR(&values[1]), L"seven")
               ? S_OK
               : E_FAIL;
}
static HRESULT WINAPI Sink_PutLongs(IValueSink* This, DWORD count, LONG* values) {
    return count == 1 && values[0] == 7 ? S_OK : E_FAIL;
}
static HRESULT WINAPI Sink_PutVariant(IValueSink* This, VARIANT* value) {
    return V_VT(value) == VT_I4 && V_I4(value) == 7 ? S_OK : E_FAIL;
}
static IValueSinkVtbl sink_vtbl = {Sink_QueryInterface, Sink_AddRef,   Sink_Release,
                                   Sink_PutVariants,    Sink_PutLongs, Sink_PutVariant};
static IValueSink sink = {&sink_vtbl};

/* This program's proxy/stub, for the calling apartment only: no registry. */
static void register_proxy_stub(void) {
    IUnknown* factory;
    DWORD cookie;
    DllGetClassObject(&IID_IValueSink, &IID_IUnknown, (void**)&factory);
    CoRegisterClassObject(&IID_IValueSink, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                          &cookie);
    CoRegisterPSClsid(&IID_IValueSink, &IID_IValueSink);
}

static IStream* stream;
static HANDLE ready;

static DWORD WINAPI sta_thread(void* arg) {
    MSG msg;
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    register_proxy_stub();
    CoMarshalInterThreadInterfaceInStream(&IID_IValueSink, (IUnknown*)&sink, &stream);
    SetEvent(ready);
    while (GetMessageW(&msg, NULL, 0, 0) > 0) DispatchMessageW(&msg);
    CoUninitialize();
    return 0;
}

static void heap_usage(SIZE_T* blocks, SIZE_T* bytes) {
    PROCESS_HEAP_ENTRY entry = {0};
    *blocks = *bytes = 0;
    HeapLock(GetProcessHeap());
    while (HeapWalk(GetProcessHeap(), &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            ++*blocks;
            *bytes += entry.cbData;
        }
    HeapUnlock(GetProcessHeap());
}

#define CALLS 10000

static HRESULT call(IValueSink* proxy, int method) {
    static VARIANT two[2];
    static LONG one = 7;
    if (V_VT(&two[0]) == VT_EMPTY) {
        V_VT(&two[0]) = VT_I4;
        V_I4(&two[0]) = 7;
        V_VT(&two[1]) = VT_BSTR;
        V_BSTR(&two[1]) = SysAllocString(L"seven");
    }
    switch (method) {
        case 0: return IValueSink_PutVariants(proxy, 2, two);
        case 1: return IValueSink_PutLongs(proxy, 1, &one);
        default: return IValueSink_PutVariant(proxy, &two[0]);
    }
}

int main(void) {
    static const char* names[] = {"PutVariants(2, [in, size_is(count)] VARIANT *)",
                                  "PutLongs(1, [in, size_is(count)] LONG *)",
                                  "PutVariant([in] VARIANT *)"};
    IValueSink* proxy;
    SIZE_T blocks0, bytes0, blocks1, bytes1;
    HRESULT hr;
    DWORD tid;
    int method, i;

    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    register_proxy_stub();
    ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    CreateThread(NULL, 0, sta_thread, NULL, 0, &tid);
    WaitForSingleObject(ready, INFINITE);
    hr = CoGetInterfaceAndReleaseStream(stream, &IID_IValueSink, (void**)&proxy);
    if (FAILED(hr)) {
        printf("no proxy: %#lx\n", hr);
        return 1;
    }
    for (method = 0; method < 3; method++) {
        for (i = 0; i < 100; i++) call(proxy, method); /* warm-up */
        heap_usage(&blocks0, &bytes0);
        for (i = 0; i < CALLS; i++) hr = call(proxy, method);
        heap_usage(&blocks1, &bytes1);
        printf("%-50s %#lx: %d calls, %+ld heap blocks, %+ld bytes\n", names[method], hr, CALLS,
               (long)(blocks1 - blocks0), (long)(bytes1 - bytes0));
    }
    IValueSink_Release(proxy);
    PostThreadMessageW(tid, WM_QUIT, 0, 0);
    return 0;
}
