// com/Dispatch.h - IDispatch for dual interfaces, from the type library embedded in this module
// (resource TYPELIB 1), so dispatch works without the library being registered.
//
//   class CModel : public com::Object<com::Dual<VKModelObject>, ...> { ... };
//
// Dual<I> derives from I, answers I and IDispatch, and implements the four IDispatch methods
// with DispGetIDsOfNames / DispInvoke over I's type information.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Object.h"
#include "com/Result.h"

namespace com {

// I's type information from the module's TYPELIB resource index (cached per binary).
HRESULT GetModuleTypeInfo(REFGUID iid, ITypeInfo** out, UINT typelib_index = 1) noexcept;

template <class I, UINT kTypeLibIndex = 1>
class Dual : public I {
public:
    using ComInterfaces = Iids<I, IDispatch>;

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
        RETURN_IF_NULL_POINTER(pctinfo);
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
        RETURN_IF_NULL_POINTER(ppTInfo);
        *ppTInfo = nullptr;
        RETURN_HR_IF(DISP_E_BADINDEX, iTInfo != 0);
        return GetModuleTypeInfo(__uuidof(I), ppTInfo, kTypeLibIndex);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                               DISPID* rgDispId) override {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
        ITypeInfo* info = nullptr;
        RETURN_IF_FAILED(GetModuleTypeInfo(__uuidof(I), &info, kTypeLibIndex));
        const HRESULT hr = ::DispGetIDsOfNames(info, rgszNames, cNames, rgDispId);
        info->Release();
        return hr;
    }
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override {
        RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
        ITypeInfo* info = nullptr;
        RETURN_IF_FAILED(GetModuleTypeInfo(__uuidof(I), &info, kTypeLibIndex));
        const HRESULT hr = ::DispInvoke(static_cast<I*>(this), info, dispIdMember, wFlags,
                                        pDispParams, pVarResult, pExcepInfo, puArgErr);
        info->Release();
        return hr;
    }
};

}  // namespace com
