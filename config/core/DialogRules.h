// What the main dialog decides, apart from its windows: combo entries, the server list,
// the checks on OK, hidden controls and where the picture goes.
#pragma once

#include <windows.h>
#include <comcat.h>

#include <optional>
#include <string>
#include <vector>

#include "com/CategoryClasses.h"

namespace ovconfig {

// TestAtItemCreate and the combo: entries 0, 1, 2 stand for the values 0, 1, 3. Any other
// stored value has no entry (-1).
int ComboIndexForTestValue(DWORD value);
std::optional<DWORD> TestValueForComboIndex(int index);

// SerialBusAccess and its box: any value but 0 checks it. OK writes 0 or 1 only when the box
// no longer says what is stored, so a missing value or a hand-set 2 stays as it is.
std::optional<DWORD> SerialBusAccessToSave(DWORD stored, bool checked);

// The categories whose boxes are checked, in the order bus server, DA 1.0, DA 2.0.
std::vector<CATID> CheckedCategories(bool busServer, bool da10, bool da20);

// The ProgIDs the list offers: classes without ProgID and the system's own server are left
// out.
std::vector<std::wstring> CandidateProgIds(const std::vector<com::CategoryClass>& classes,
                                           const std::wstring& ownProgId);

// DevSpecific names the slave address with "%d" at most once.
bool IsDevSpecificAcceptable(const std::wstring& devSpecific);

// The controls that the bits of HideAdvancedControls hide (ids the dialog lacks included).
std::vector<int> ControlsHiddenBy(DWORD mask);

// The picture in the frame, aspect ratio kept: in a relatively wider frame it takes the
// frame's height at the right edge, otherwise the frame's width at the top.
RECT FitPicture(const RECT& frame, SIZE picture);

}  // namespace ovconfig
