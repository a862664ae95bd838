// guidriver.exe: gui_driver from the command line, for scripts (screenshots, trying things).
//
//   guidriver wait <title> [timeout-ms]     the window's rectangle: "left top width height"
//   guidriver text <title> <id>             a control's text
//   guidriver settext <title> <id> <text>
//   guidriver click <title> <id>            (posted)
//   guidriver syscommand <title> <command>  (posted)
//   guidriver sheetpage <title> <index>     shows a property sheet's page (posted)
//   guidriver expand <title> <id> <n>       expands a tree view's n-th visible item
//   guidriver list <title> <id>             list or combo box entries, "*" before the selected
//   guidriver listview <title> <id>         rows, columns separated by tabs
//   guidriver tree <title> <id>             items, indented by depth
//   guidriver visible <title> <id>          "1" or "0"
//   guidriver msgbox <caption> [dismiss]    the box's text
//   guidriver close <title>                 WM_CLOSE (posted)
//   guidriver windows                       titles of the visible top-level windows
// Exit codes: 0 done, 1 usage, 2 window or control not found.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "GuiDriver.h"

namespace {

constexpr DWORD kDefaultWaitMs = 10000;

void Print(const std::wstring& text) {
    const std::wstring line = text + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0], size,
                        nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

int Usage() {
    fwprintf(stderr,
             L"usage: guidriver wait|text|settext|click|syscommand|sheetpage|list|listview|tree|"
             L"expand|visible|msgbox|close <title> [...]\n");
    return 1;
}

BOOL CALLBACK PrintTitle(HWND window, LPARAM) {
    if (IsWindowVisible(window)) Print(guidriver::Text(window));
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"windows") return !EnumWindows(PrintTitle, 0);
    if (argc < 3) return Usage();
    const std::wstring command = argv[1];
    const std::wstring title = argv[2];
    if (command == L"msgbox") {
        guidriver::MessageBoxInfo box = guidriver::WaitForMessageBox(title, 0, kDefaultWaitMs);
        if (!box.window) return 2;
        Print(box.text);
        if (argc > 3 && std::wstring(argv[3]) == L"dismiss") guidriver::DismissMessageBox(box);
        return 0;
    }
    const DWORD wait =
        command == L"wait" && argc > 3 ? wcstoul(argv[3], nullptr, 10) : kDefaultWaitMs;
    HWND window = guidriver::WaitForWindow(title, wait);
    if (!window) return 2;
    if (command == L"wait") {
        const RECT r = guidriver::WindowRect(window);
        Print(std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
              std::to_wstring(r.right - r.left) + L" " + std::to_wstring(r.bottom - r.top));
        return 0;
    }
    if (command == L"close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 2;
    if (argc < 4) return Usage();
    const int id = static_cast<int>(wcstol(argv[3], nullptr, 0));
    if (command == L"syscommand") return guidriver::PostSysCommand(window, id) ? 0 : 2;
    if (command == L"sheetpage") return PostMessageW(window, PSM_SETCURSEL, id, 0) ? 0 : 2;
    HWND control = GetDlgItem(window, id);
    if (!control) return 2;
    if (command == L"text") {
        Print(guidriver::Text(control));
    } else if (command == L"settext" && argc > 4) {
        return guidriver::SetText(control, argv[4]) ? 0 : 2;
    } else if (command == L"click") {
        return guidriver::Click(control) ? 0 : 2;
    } else if (command == L"list") {
        wchar_t name[32] = L"";
        GetClassNameW(control, name, 32);
        const bool combo = _wcsicmp(name, L"ComboBox") == 0;
        const auto items =
            combo ? guidriver::ComboItems(control) : guidriver::ListBoxItems(control);
        const int selected =
            combo ? guidriver::ComboSelection(control) : guidriver::ListBoxSelection(control);
        for (size_t i = 0; i < items.size(); ++i)
            Print((static_cast<int>(i) == selected ? L"*" : L" ") + items[i]);
    } else if (command == L"listview") {
        for (const auto& row : guidriver::ListViewRows(control)) {
            std::wstring line;
            for (size_t i = 0; i < row.size(); ++i) line += (i ? L"\t" : L"") + row[i];
            Print(line);
        }
    } else if (command == L"tree") {
        for (const auto& item : guidriver::TreeViewItems(control))
            Print(std::wstring(item.depth * 2, L' ') + item.text);
    } else if (command == L"expand" && argc > 4) {
        auto next = [&](UINT relation, HTREEITEM from) {
            return reinterpret_cast<HTREEITEM>(
                SendMessageW(control, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from)));
        };
        HTREEITEM item = next(TVGN_FIRSTVISIBLE, nullptr);
        for (unsigned long n = wcstoul(argv[4], nullptr, 10); item && n > 0; --n)
            item = next(TVGN_NEXTVISIBLE, item);
        if (!item) return 2;
        SendMessageW(control, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    } else if (command == L"visible") {
        Print(guidriver::IsVisible(control) ? L"1" : L"0");
    } else {
        return Usage();
    }
    return 0;
}
