// The information box: the installed components with version and path.
#pragma once

#include "Dialog.h"

namespace ovconfig {

class InfoDialog : public Dialog {
public:
    explicit InfoDialog(HINSTANCE instance);

private:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void FillComponents();
};

}  // namespace ovconfig
