// com/ComInit.h - ComInitializer: CoInitializeEx for the life of a scope (thread entry points).
//
//   com::ComInitializer com(COINIT_MULTITHREADED);
//   if (FAILED(com.hr())) return com.hr();
#pragma once

#include <windows.h>
#include <objbase.h>

namespace com {

class ComInitializer {
public:
    explicit ComInitializer(DWORD flags = COINIT_MULTITHREADED) noexcept
        : hr_(::CoInitializeEx(nullptr, flags)) {}
    // S_FALSE (already initialised in this mode) is balanced too.
    ~ComInitializer() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComInitializer(const ComInitializer&) = delete;
    ComInitializer& operator=(const ComInitializer&) = delete;

    HRESULT hr() const noexcept { return hr_; }
    bool succeeded() const noexcept { return SUCCEEDED(hr_); }

private:
    HRESULT hr_;
};

}  // namespace com
