#include "Dialog.h"

#include "com/ErrorBox.h"

namespace kirrow {

void Dialog::Show(const std::wstring& text, const std::wstring& caption) const {
    com::ReportErrorBox(text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING, hwnd());
}

}  // namespace kirrow
