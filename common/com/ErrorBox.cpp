#include "com/ErrorBox.h"

#include "com/Log.h"

namespace com {

bool ErrorBoxesEnabled() noexcept {
    DWORD value = 1;
    DWORD size = sizeof(value);
    const LSTATUS status =
        ::RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Axolent\\Orvane", L"ShowErrorBoxes",
                       RRF_RT_REG_DWORD, nullptr, &value, &size);
    return status != ERROR_SUCCESS || value != 0;
}

int ReportErrorBox(const wchar_t* text, const wchar_t* caption, UINT flags, HWND owner) noexcept {
    const bool show = ErrorBoxesEnabled();
    Log::Get().Printf(LogLevel::kError, L"error box%ls [%ls]: %ls", show ? L"" : L" (not shown)",
                      caption ? caption : L"", text ? text : L"");
    if (!show) return 0;
    return ::MessageBoxW(owner, text, caption, flags);
}

}  // namespace com
