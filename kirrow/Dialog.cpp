#include "Dialog.h"

#include "com/ErrorBox.h"

namespace kirrow {

std::wstring WindowText(HWND window) {
    const int length = window ? GetWindowTextLengthW(window) : 0;
    if (length <= 0) return {};
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(window, &text[0], length + 1));
    return text;
}

INT_PTR Dialog::Run(HWND owner) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner, Proc,
                           reinterpret_cast<LPARAM>(this));
}

std::wstring Dialog::ItemText(int id) const { return WindowText(Item(id)); }

void Dialog::Show(const std::wstring& text, const std::wstring& caption) const {
    com::ReportErrorBox(text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING, hwnd_);
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

}  // namespace kirrow
