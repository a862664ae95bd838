/* The OPC headers compile as C too (C consumers call through lpVtbl). */
#include "opc.h"

#include <olectl.h>

HRESULT OpcHeadersInC(IOPCServer* server, LPWSTR* text) {
    OPCITEMSTATE state = {0};
    (void)state;
    if (IsEqualIID(&IID_IOPCServer, &IID_IOPCCommon) ||
        !IsEqualGUID(&CATID_OPCDAServer20, &CATID_OPCDAServer20))
        return E_UNEXPECTED;
    return server->lpVtbl->GetErrorString(server, OPC_E_INVALIDHANDLE, OPC_QUALITY_GOOD, text);
}
