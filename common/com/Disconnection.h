// com/Disconnection.h - the results by which a call tells that the object behind a proxy is
// gone: its process died or ended, or its stub was disconnected. Such a proxy never works
// again; the caller drops it and connects anew.
#pragma once

#include <windows.h>

namespace com {

inline bool IsDisconnection(HRESULT hr) noexcept {
    return hr == RPC_E_DISCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == CO_E_OBJNOTCONNECTED;
}

}  // namespace com
