// The error boxes of the model set-up and device discovery. Texts and caption are
// the module's string table; every box goes through the common error-reporting
// routine (logged, shown unless "ShowErrorBoxes" is 0).
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

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

// Holds back the boxes reported on this thread while it lives and shows them when it
// goes. Declared before a lock guard, it shows them after the lock is left: a box
// waits for the user, and nobody else may wait for the lock meanwhile.
class DeferredErrorBoxes {
public:
    DeferredErrorBoxes() noexcept;
    ~DeferredErrorBoxes();
    DeferredErrorBoxes(const DeferredErrorBoxes&) = delete;
    DeferredErrorBoxes& operator=(const DeferredErrorBoxes&) = delete;

    void Add(UINT textId, std::wstring text);

private:
    DeferredErrorBoxes* outer_;
    std::vector<std::pair<UINT, std::wstring>> boxes_;
};

// Called with the text id of every box as it is reported (tests).
using ErrorBoxObserver = void (*)(UINT textId);
void SetErrorBoxObserver(ErrorBoxObserver observer);

// The text id of the last box reported in this process, 0 before any (tests).
UINT LastErrorBox();
void ResetLastErrorBox();

}  // namespace orvane::interaction
