// What the interaction object knows about one drive parameter item address. The
// object keeps one record per address together with the item's parameter object
// and the drive's channel object; this is the part the requests work with.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace orvane::interaction {

struct DriveParameterRecord {
    std::wstring name;       // the item's path in the object model ("Axolent://" + name)
    bool unindexed = false;  // the item has no subindex
    BYTE dataType = 0;       // resolved at creation, updated by every read
    BYTE axis = 0;           // the drive object addressed by requests
    BYTE valueLength = 0;    // from the read test at creation; 0 without one
    ULONG useCount = 0;      // items sharing the record
    VARTYPE vt = VT_EMPTY;   // the item's VARIANT type ("d" part of its name)
    WORD parameter = 0;
    WORD subindex = 0;
    WORD maxParameterRequests = 40;  // device limits (0 from the drive means these defaults)
    WORD maxBlockLength = 240;
    WORD maxLatency = 0;
};

}  // namespace orvane::interaction
