// Modal dialogs from this program's templates in the user's language, with the object that
// handles their messages kept in DWLP_USER.
#pragma once

#include <windows.h>

#include <string>

#include "core/Texts.h"

namespace ovconfig {

class Dialog {
public:
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // DialogBoxIndirectParam's result (-1 when the dialog could not be shown).
    INT_PTR Run(HWND owner = nullptr);

protected:
    Dialog(HINSTANCE instance, UINT templateId) : instance_(instance), templateId_(templateId) {}
    virtual ~Dialog() = default;

    // TRUE when handled, as a dialog procedure answers.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    HWND hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    std::wstring ItemText(int id) const;
    HINSTANCE instance() const { return instance_; }

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    UINT templateId_;
    HWND hwnd_ = nullptr;
};

}  // namespace ovconfig
