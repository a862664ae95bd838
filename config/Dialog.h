// A modal dialog of this program, from its templates in the user's language.
#pragma once

#include <windows.h>

#include "core/Texts.h"
#include "ui/ModalDialog.h"

namespace ovconfig {

class Dialog : public ui::ModalDialog {
protected:
    Dialog(HINSTANCE instance, UINT templateId) : ModalDialog(instance, templateId) {}

    // German or English, whatever other translations the resource loader would try.
    const DLGTEMPLATE* Template() const override { return LoadDialogTemplate(templateId()); }
};

}  // namespace ovconfig
