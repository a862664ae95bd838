// Bases for fakes: every method of an interface answers E_NOTIMPL, so that a fake overrides
// only what its test uses.
//
//   class FakeParameter : public com::Object<test_support::NotImplementedParameter<>> {
//       STDMETHODIMP GetInit(BSTR*, long*, VARTYPE*, VARIANT*) override;  // what is used
//   };
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Object.h"
#include "vkmodel.h"

namespace test_support {

// IDispatch of a dual interface that a fake never calls by name. Base: the interface, which
// is what the fake answers.
template <class Base>
class NotImplementedDispatch : public Base {
public:
    using ComInterfaces = com::Iids<Base>;

    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return E_NOTIMPL;
    }
};

// VKModelParameter's own methods. Base: VKModelParameter (IDispatch stubbed too, answers
// VKModelParameter) or a class that implements IDispatch, such as a com::Dual of
// VKModelParameter2 (its interface list stays the base's).
template <class Base = NotImplementedDispatch<VKModelParameter>>
class NotImplementedParameter : public Base {
public:
    STDMETHODIMP GetName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetName(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetAccessPath(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetAccessPath(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetParent(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP SetParent(IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPath(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetRelativePath(IUnknown*, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP Init(BSTR, long, VARTYPE, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetInit(BSTR*, long*, VARTYPE*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTag(long*) override { return E_NOTIMPL; }
    STDMETHODIMP SetTag(long) override { return E_NOTIMPL; }
    STDMETHODIMP GetInteractionCLSID(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetInteractionCLSID(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetValue(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetValue(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetFormat(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetFormat(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetIdentity(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMin(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMin(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetMax(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMax(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetFlags(unsigned short*) override { return E_NOTIMPL; }
    STDMETHODIMP SetFlags(unsigned short) override { return E_NOTIMPL; }
    STDMETHODIMP GetAccessRights(long*) override { return E_NOTIMPL; }
    STDMETHODIMP SetAccessRights(long) override { return E_NOTIMPL; }
    STDMETHODIMP SetDataType(VARTYPE, VARIANT) override { return E_NOTIMPL; }
};

}  // namespace test_support
