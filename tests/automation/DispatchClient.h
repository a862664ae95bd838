// A late-bound client: every call by name through GetIDsOfNames and Invoke, as a script makes
// it. A failure that the object reports through DispInvoke (DISP_E_EXCEPTION) comes back as the
// object's own HRESULT, the number a script sees in Err.Number.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <initializer_list>

#include "com/ComPtr.h"
#include "com/Variant.h"

namespace test_support {

class DispatchClient {
public:
    explicit DispatchClient(IDispatch* object = nullptr) : object_(object) {}
    IDispatch* get() const { return object_.get(); }
    IDispatch** put() { return object_.put(); }

    HRESULT DispId(const wchar_t* name, DISPID* id) const;
    HRESULT Get(const wchar_t* name, com::UniqueVariant* result) const;
    HRESULT Put(const wchar_t* name, const VARIANT& value) const;
    // Arguments in the order of the member's declaration.
    class Arg;
    HRESULT Call(const wchar_t* name, std::initializer_list<Arg> args,
                 com::UniqueVariant* result = nullptr) const;
    // A property that is an object (OPCGroups, a group's OPCItems).
    HRESULT GetObject(const wchar_t* name, DispatchClient* object) const;
    // A method returning an object (Add, AddItem, Item).
    HRESULT CallObject(const wchar_t* name, std::initializer_list<Arg> args,
                       DispatchClient* object) const;

private:
    HRESULT Invoke(const wchar_t* name, WORD flags, DISPPARAMS* params, VARIANT* result) const;

    com::ComPtr<IDispatch> object_;
};

// An argument of Call, owning its value: a text (VT_BSTR), a number (VT_I4), a copy of any
// VARIANT (an array, say), an optional argument left out (Missing()) or a caller's variable
// passed by reference for an out-argument (Ref(), VT_BYREF|VT_VARIANT as scripts pass them).
class DispatchClient::Arg {
public:
    Arg(const wchar_t* text) : value_(std::wstring_view(text)) {}
    Arg(LONG number) : value_(number) {}
    Arg(const VARIANT& value) : value_(value) {}
    Arg(const Arg& other) : value_(*other.value_) {}
    static Arg Missing();
    static Arg Ref(VARIANT* variable);
    const VARIANT& operator*() const { return *value_; }

private:
    Arg() = default;
    com::UniqueVariant value_;
};

}  // namespace test_support
