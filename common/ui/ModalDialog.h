// A modal dialog from a program's own dialog templates, with the object that handles its
// messages kept in DWLP_USER.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

class ModalDialog {
public:
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // DialogBoxIndirectParam's result (-1 when the dialog could not be shown).
    INT_PTR Run(HWND owner = nullptr);

protected:
    ModalDialog(HINSTANCE instance, UINT templateId)
        : instance_(instance), templateId_(templateId) {}
    virtual ~ModalDialog() = default;

    // TRUE when handled, as a dialog procedure answers.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The template to show; by default the resource in the language the resource loader
    // picks, as DialogBoxParam takes it. Null: Run gives -1.
    virtual const DLGTEMPLATE* Template() const;

    // OK and Cancel end the dialog with their id; TRUE when `wParam` of a WM_COMMAND was one
    // of them.
    BOOL EndOnOkOrCancel(WPARAM wParam);

    HWND hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    std::wstring ItemText(int id) const;
    HINSTANCE instance() const { return instance_; }
    UINT templateId() const { return templateId_; }

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    UINT templateId_;
    HWND hwnd_ = nullptr;
};

// A window's text; empty for a null window.
std::wstring WindowText(HWND window);

}  // namespace ui
