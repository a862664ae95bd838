// com/Time.h - OLE DATE <-> FILETIME, exact to the millisecond (SystemTimeToVariantTime and
// VariantTimeToSystemTime drop the milliseconds). Time stamps inside the system are DATEs in
// UTC; OPC clients get FILETIMEs. No time-zone conversion happens here.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace com {

DATE FileTimeToDate(const FILETIME& time) noexcept;
// False for NaN and for dates a FILETIME cannot hold (before 1601) or DATE does not allow
// (after 9999).
bool DateToFileTime(DATE date, FILETIME* out) noexcept;
// Now, UTC.
DATE NowUtcDate() noexcept;

}  // namespace com
