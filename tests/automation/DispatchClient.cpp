#include "DispatchClient.h"

#include <vector>

namespace test_support {

HRESULT DispatchClient::DispId(const wchar_t* name, DISPID* id) const {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

HRESULT DispatchClient::Invoke(const wchar_t* name, WORD flags, DISPPARAMS* params,
                               VARIANT* result) const {
    DISPID id = 0;
    HRESULT hr = DispId(name, &id);
    if (FAILED(hr)) return hr;
    EXCEPINFO exception = {};
    UINT badArgument = 0;
    hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &exception,
                         &badArgument);
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        hr = exception.scode ? exception.scode : E_FAIL;
    }
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    return hr;
}

HRESULT DispatchClient::Get(const wchar_t* name, com::UniqueVariant* result) const {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return Invoke(name, DISPATCH_PROPERTYGET, &none, result->put());
}

HRESULT DispatchClient::Put(const wchar_t* name, const VARIANT& value) const {
    VARIANT arg = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&arg, &named, 1, 1};
    return Invoke(name, DISPATCH_PROPERTYPUT, &params, nullptr);
}

HRESULT DispatchClient::Call(const wchar_t* name, std::initializer_list<Arg> args,
                             com::UniqueVariant* result) const {
    // DISPPARAMS carries the arguments last to first; the Args keep owning the values.
    std::vector<VARIANT> reversed;
    for (auto arg = args.end(); arg != args.begin();) reversed.push_back(**--arg);
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    com::UniqueVariant ignored;
    return Invoke(name, DISPATCH_METHOD, &params, result ? result->put() : ignored.put());
}

HRESULT DispatchClient::GetObject(const wchar_t* name, DispatchClient* object) const {
    com::UniqueVariant result;
    HRESULT hr = Get(name, &result);
    if (FAILED(hr)) return hr;
    if (result.vt() != VT_DISPATCH || !V_DISPATCH(result.get())) return E_NOINTERFACE;
    *object = DispatchClient(V_DISPATCH(result.get()));
    return S_OK;
}

HRESULT DispatchClient::CallObject(const wchar_t* name, std::initializer_list<Arg> args,
                                   DispatchClient* object) const {
    com::UniqueVariant result;
    HRESULT hr = Call(name, args, &result);
    if (FAILED(hr)) return hr;
    if (result.vt() != VT_DISPATCH || !V_DISPATCH(result.get())) return E_NOINTERFACE;
    *object = DispatchClient(V_DISPATCH(result.get()));
    return hr;
}

DispatchClient::Arg DispatchClient::Arg::Ref(VARIANT* variable) {
    Arg ref;
    V_VT(ref.value_.get()) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(ref.value_.get()) = variable;
    return ref;
}

DispatchClient::Arg DispatchClient::Arg::Missing() {
    Arg missing;
    V_VT(missing.value_.get()) = VT_ERROR;
    V_ERROR(missing.value_.get()) = DISP_E_PARAMNOTFOUND;
    return missing;
}

}  // namespace test_support
