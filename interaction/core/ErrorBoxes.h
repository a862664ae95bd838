// The error boxes of the model set-up and device discovery. Texts and caption are
// the module's string table; every box goes through the common error-reporting
// routine (logged, shown unless "ShowErrorBoxes" is 0).
#pragma once

#include <windows.h>

#include <string>

#include "resource.h"

namespace orvane::interaction {

void ShowErrorBox(UINT textId);
// Boxes 103 and 114 name the bus server and the failure:
// "\n\n(ProgID: <ProgID>)\n(hRes: 0x%08X)" follows the text.
void ShowErrorBox(UINT textId, const std::wstring& progId, HRESULT hr);

// The text of a box: the string `textId`, for boxes 103 and 114 with the ProgID and
// HRESULT appended.
std::wstring ErrorBoxText(UINT textId);
std::wstring ErrorBoxText(UINT textId, const std::wstring& progId, HRESULT hr);

// The text id of the last box reported in this process, 0 before any (tests).
UINT LastErrorBox();
void ResetLastErrorBox();

}  // namespace orvane::interaction
