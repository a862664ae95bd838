// Helpers shared by the parameter-node tests.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "ov_param.h"
#include "vkitemprops.h"
#include "vkmodel.h"

namespace param_test {

inline constexpr HRESULT kOpcInvalidPid = static_cast<HRESULT>(0xC0040203);
inline constexpr HRESULT kFromDevice = static_cast<HRESULT>(0xC0120001);

// The description of the calling thread's error information, "<none>" without one.
inline std::wstring ErrorText() {
    com::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return L"<none>";
    com::UniqueBstr description;
    info->GetDescription(description.put());
    return description.str();
}

inline void ClearError() { SetErrorInfo(0, nullptr); }

inline com::UniqueVariant I2(SHORT value) {
    com::UniqueVariant v;
    V_VT(v.get()) = VT_I2;
    V_I2(v.get()) = value;
    return v;
}

inline com::UniqueVariant I4(LONG value) { return com::UniqueVariant(value); }

inline com::UniqueVariant Text(const wchar_t* text) {
    return com::UniqueVariant(std::wstring_view(text));
}

inline std::wstring Name(VKModelParameter* parameter) {
    com::UniqueBstr name;
    if (FAILED(parameter->GetName(name.put()))) return L"<failed>";
    return name.str();
}

}  // namespace param_test
