#pragma once

#include <windows.h>
#include <oleauto.h>

namespace vkopc {

// An OLE date from a FILETIME as it is, without time-zone conversion and
// keeping the milliseconds (SystemTimeToVariantTime drops them).
DATE FileTimeToDate(const FILETIME& time);

}  // namespace vkopc
