// gui_driver: drives the windows of another process the way a user would, for GUI tests and
// screenshots. Clicks are posted (a sent BM_CLICK that opens a modal box would block the
// driver until the box closes); reads go through window messages, and list views and tree
// views through a buffer in the target process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace guidriver {

// The top-level visible window with exactly this title (of that process, when pid is not 0),
// waited for up to timeoutMs; null when none appeared.
HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs, DWORD pid = 0);
// Waits until the window is gone; false on time-out.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

std::wstring Text(HWND window);
bool SetText(HWND window, const std::wstring& text);
// BM_CLICK, posted.
bool Click(HWND button);
// A command from a menu (WM_SYSCOMMAND), posted.
bool PostSysCommand(HWND window, WPARAM command);

std::vector<std::wstring> ListBoxItems(HWND list);
int ListBoxSelection(HWND list);
// Selects and tells the parent, as a click would (LBN_SELCHANGE).
bool ListBoxSelect(HWND list, int index);
std::vector<std::wstring> ComboItems(HWND combo);
int ComboSelection(HWND combo);
bool ComboSelect(HWND combo, int index);

// Every row of a list view, every column's text.
std::vector<std::vector<std::wstring>> ListViewRows(HWND list);
struct TreeItem {
    int depth;
    std::wstring text;
};
// Every item of a tree view, depth first.
std::vector<TreeItem> TreeViewItems(HWND tree);

bool IsVisible(HWND window);
bool IsEnabled(HWND window);
RECT WindowRect(HWND window);
// The control that has the keyboard focus in the window's thread.
HWND FocusOf(HWND window);

// A message box (dialog class #32770 without the given window) of the process, by caption.
struct MessageBoxInfo {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
};
MessageBoxInfo WaitForMessageBox(const std::wstring& caption, DWORD pid, DWORD timeoutMs);
// Presses the box's OK (or its only) button.
bool DismissMessageBox(const MessageBoxInfo& box);

// Polls the condition every 20 ms until it holds or timeoutMs passed.
template <class F>
bool WaitUntil(F condition, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(20);
    }
}

}  // namespace guidriver
