#include "ui/ModalDialog.h"

namespace ui {

std::wstring WindowText(HWND window) {
    const int length = window ? GetWindowTextLengthW(window) : 0;
    if (length <= 0) return {};
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(window, &text[0], length + 1));
    return text;
}

INT_PTR ModalDialog::Run(HWND owner) {
    const DLGTEMPLATE* dialog = Template();
    if (!dialog) return -1;
    return DialogBoxIndirectParamW(instance_, dialog, owner, Proc, reinterpret_cast<LPARAM>(this));
}

const DLGTEMPLATE* ModalDialog::Template() const {
    HRSRC found = FindResourceW(instance_, MAKEINTRESOURCEW(templateId_), RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(instance_, found) : nullptr;
    return loaded ? static_cast<const DLGTEMPLATE*>(LockResource(loaded)) : nullptr;
}

BOOL ModalDialog::EndOnOkOrCancel(WPARAM wParam) {
    const WORD id = LOWORD(wParam);
    if (id != IDOK && id != IDCANCEL) return FALSE;
    EndDialog(hwnd_, id);
    return TRUE;
}

std::wstring ModalDialog::ItemText(int id) const { return WindowText(Item(id)); }

INT_PTR CALLBACK ModalDialog::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<ModalDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
    }
    return self ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

}  // namespace ui
