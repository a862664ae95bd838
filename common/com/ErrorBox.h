// com/ErrorBox.h - THE error-reporting routine for message boxes: the text always goes to the
// log; the box is shown only if the DWORD "ShowErrorBoxes" under
// HKEY_LOCAL_MACHINE\Software\Axolent\Orvane is not 0 (missing means shown).
//
//   com::ReportErrorBox(text, L"Orvane Error", MB_OK | MB_ICONERROR);
#pragma once

#include <windows.h>

namespace com {

// MessageBoxW's result when shown, 0 when suppressed by the setting.
int ReportErrorBox(const wchar_t* text, const wchar_t* caption, UINT flags,
                   HWND owner = nullptr) noexcept;

// The setting, read anew on every call.
bool ErrorBoxesEnabled() noexcept;

}  // namespace com
