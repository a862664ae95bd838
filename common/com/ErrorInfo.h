// com/ErrorInfo.h - COM error information for callers (CreateErrorInfo/SetErrorInfo) and the
// ISupportErrorInfo base.
//
//   class CParam : public com::Object<VKModelParameter, com::SupportErrorInfo<VKModelParameter>>
//   ...
//   return com::SetErrorInfo(E_INVALIDARG, __uuidof(VKModelParameter), L"OV_Param", L"Wert ...");
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Object.h"

namespace com {

// Sets the thread's error information and returns hr, so that it can end a method:
// `return SetErrorInfo(hr, iid, source, text);`. Failure to set it is ignored (hr still wins).
HRESULT SetErrorInfo(HRESULT hr, REFGUID iid, const wchar_t* source, const wchar_t* description,
                     const wchar_t* help_file = nullptr, DWORD help_context = 0) noexcept;
// Clears the thread's error information (methods that succeed after a failure).
void ClearErrorInfo() noexcept;

// ISupportErrorInfo answering S_OK for the listed interfaces, S_FALSE for others.
template <class... Interfaces>
class SupportErrorInfo : public ISupportErrorInfo {
public:
    using ComInterfaces = Iids<ISupportErrorInfo>;

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return ((riid == __uuidof(Interfaces)) || ...) ? S_OK : S_FALSE;
    }
};

}  // namespace com
