// A modal dialog from this program's templates, with the object that handles its messages
// kept in DWLP_USER.
#pragma once

#include <windows.h>

#include <string>

namespace kirrow {

class Dialog {
public:
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // DialogBoxParam's result (-1 when the dialog could not be shown).
    INT_PTR Run(HWND owner);

protected:
    explicit Dialog(UINT templateId) : templateId_(templateId) {}
    virtual ~Dialog() = default;

    // TRUE when handled, as a dialog procedure answers.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    HWND hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    std::wstring ItemText(int id) const;
    // The message box of this program (logged; shown unless "ShowErrorBoxes" is 0).
    void Show(const std::wstring& text, const std::wstring& caption) const;

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND hwnd_ = nullptr;
};

std::wstring WindowText(HWND window);

}  // namespace kirrow
