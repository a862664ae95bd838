// ScriptDispatch.h - IDispatch for the wrapper's dual interfaces that takes arguments the way
// scripts pass them.
//
// A script passes its variables by reference as VARIANTs: an array as VT_BYREF|VT_VARIANT
// holding VT_ARRAY|VT_VARIANT, an out-argument as VT_BYREF|VT_VARIANT holding VT_EMPTY. The
// type-library dispatch (DispInvoke) expects SAFEARRAY(T)* and LONG* parameters exactly typed
// and refuses those with DISP_E_TYPEMISMATCH (Wine's does). ScriptDual<I> hands such a
// parameter the array or a slot of the declared type and writes an out-value back into the
// script's variable; everything else goes to DispInvoke unchanged.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Dispatch.h"

namespace vkauto {

HRESULT InvokeForScripts(void* object, ITypeInfo* info, DISPID id, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* badArgument);

template <class I>
class ScriptDual : public com::Dual<I> {
public:
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
        ITypeInfo* info = nullptr;
        RETURN_IF_FAILED(com::GetModuleTypeInfo(__uuidof(I), &info));
        const HRESULT hr = InvokeForScripts(static_cast<I*>(this), info, dispIdMember, wFlags,
                                            pDispParams, pVarResult, pExcepInfo, puArgErr);
        info->Release();
        return hr;
    }
};

}  // namespace vkauto
