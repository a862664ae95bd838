#include "Dialog.h"

namespace ovconfig {

INT_PTR Dialog::Run(HWND owner) {
    const DLGTEMPLATE* dialog = LoadDialogTemplate(templateId_);
    if (!dialog) return -1;
    return DialogBoxIndirectParamW(instance_, dialog, owner, Proc, reinterpret_cast<LPARAM>(this));
}

std::wstring Dialog::ItemText(int id) const {
    HWND item = Item(id);
    const int length = item ? GetWindowTextLengthW(item) : 0;
    if (length <= 0) return {};
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(item, &text[0], length + 1));
    return text;
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
    }
    return self ? self->HandleMessage(message, wParam, lParam) : FALSE;
}

}  // namespace ovconfig
