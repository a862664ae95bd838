// The rows ("Property", "Value") of the information dialogs.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Session.h"

namespace kirrow {

using InfoRows = std::vector<std::pair<std::wstring, std::wstring>>;

// Page "Information": host, ProgID, CLSID, versions and vendor (status may be null when
// GetStatus failed).
InfoRows ServerInformationRows(const Session& session, const OPCSERVERSTATUS* status);
// Page "State": the times, the group count, the locale and the state text.
InfoRows ServerStateRows(const OPCSERVERSTATUS& status, LCID locale);
// "yes" / "no" per interface.
InfoRows InterfaceRows(const std::vector<std::pair<std::wstring, bool>>& interfaces);
// The group's state as GetState returned it, its handles and its interfaces.
InfoRows GroupRows(const GroupRecord& group, DWORD updateRate, BOOL active, LONG timeBias,
                   float deadband, LCID locale, const std::wstring& name);
InfoRows ItemRows(const ItemRecord& item);

}  // namespace kirrow
