// A modal dialog of this program, from its templates in the language the resource loader
// picks.
#pragma once

#include <windows.h>

#include <string>

#include "ui/ModalDialog.h"

namespace kirrow {

class Dialog : public ui::ModalDialog {
protected:
    explicit Dialog(UINT templateId) : ModalDialog(GetModuleHandleW(nullptr), templateId) {}

    // The message box of this program (logged; shown unless "ShowErrorBoxes" is 0).
    void Show(const std::wstring& text, const std::wstring& caption) const;
};

}  // namespace kirrow
