// Every text of both dialogs, in both languages, fits its control when measured with the
// dialog's own font. Needs a display: it runs with the GUI tests.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "ConfigTestSupport.h"
#include "resource.h"

namespace ovconfig::test {
namespace {

INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring WindowText(HWND window) {
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

// Pixels the control leaves for its text, or -1 for controls without a text to check.
int RoomForText(HWND control) {
    const std::wstring kind = ClassName(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    RECT client;
    GetClientRect(control, &client);
    const int width = client.right - client.left;
    if (_wcsicmp(kind.c_str(), L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        return type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_LEFTNOWORDWRAP
                   ? width
                   : -1;
    }
    if (_wcsicmp(kind.c_str(), L"Button") != 0) return -1;
    switch (style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: return width - GetSystemMetrics(SM_CXMENUCHECK) - 4;
        case BS_GROUPBOX:
            return width - 16;  // the frame's corners and the gaps either side of the text
        default: return width - 6;
    }
}

class ResourceCheck : public ::testing::TestWithParam<std::pair<UINT, LANGID>> {};

TEST_P(ResourceCheck, EveryTextFitsItsControl) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    const HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found =
        FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(GetParam().first), GetParam().second);
    ASSERT_TRUE(found) << "dialog " << GetParam().first << " language " << GetParam().second;
    auto* dialogTemplate =
        static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
    HWND dialog = CreateDialogIndirectParamW(module, dialogTemplate, nullptr, QuietDialog, 0);
    ASSERT_TRUE(dialog) << "error " << GetLastError();
    HDC dc = GetDC(dialog);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    int checked = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring text = WindowText(child);
        const int room = RoomForText(child);
        if (text.empty() || room < 0) continue;
        RECT needed = {0, 0, 0, 0};
        const UINT prefix = (GetWindowLongW(child, GWL_STYLE) & SS_NOPREFIX) &&
                                    _wcsicmp(ClassName(child).c_str(), L"Static") == 0
                                ? DT_NOPREFIX
                                : 0;
        DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_SINGLELINE | prefix);
        EXPECT_LE(needed.right, room)
            << "\"" << Narrow(text) << "\" (control " << GetDlgCtrlID(child) << ")";
        ++checked;
    }
    EXPECT_GE(checked, 3) << "texts measured";
    ReleaseDC(dialog, dc);
    DestroyWindow(dialog);
}

INSTANTIATE_TEST_SUITE_P(
    BothDialogsBothLanguages, ResourceCheck,
    ::testing::Values(std::make_pair(IDD_OV_CONFIG_DIALOG, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)),
                      std::make_pair(IDD_OV_CONFIG_DIALOG,
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
                      std::make_pair(IDD_ABOUTBOX, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)),
                      std::make_pair(IDD_ABOUTBOX, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))));

}  // namespace
}  // namespace ovconfig::test
