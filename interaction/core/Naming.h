// How model node names and device prefixes are derived from the bus server's
// ProgID and item IDs. No COM: unit-tested on their own.
#pragma once

#include <string>

namespace orvane::interaction {

// The item that marks a slave in the bus server's address space.
constexpr wchar_t kVendorMarker[] = L"DS_Vendorname";
// The parameter channel item behind a device prefix when no other is configured.
constexpr wchar_t kDefaultChannelItem[] = L"SlotI0S47D8209";

// The ProgID with every "/", ".", "\" and ":" replaced by "_".
std::wstring BusServerNodeName(const std::wstring& progId);
// The device prefix with every "/", ".", "\", ":", "[" and "]" replaced by "_".
std::wstring DeviceNodeName(const std::wstring& devicePrefix);

// "opc://" + ProgID + "/": the bus-server node's access path; a device prefix appended
// gives the device node's.
std::wstring BusServerAccessPath(const std::wstring& progId);

// The device prefix of a marker item ID (the ID without "DS_Vendorname"); false when
// the ID is not longer than the marker.
bool PrefixFromMarker(const std::wstring& itemId, std::wstring* prefix);

// The browse filter of a device pattern: DevSpecific with "%d" replaced by "*", then
// "*", then ParSpecific.
std::wstring PatternFilter(const std::wstring& devSpecific, const std::wstring& parSpecific);
// An item ID is a device channel when it begins with the part of DevSpecific before
// "%d" followed by a decimal number (as "%d" reads one); without "%d", when it begins
// with DevSpecific.
bool MatchesDevicePattern(const std::wstring& itemId, const std::wstring& devSpecific);
// The device prefix of a channel item ID (the ID without the trailing ParSpecific);
// false when the ID is not longer than ParSpecific.
bool PrefixFromChannel(const std::wstring& itemId, const std::wstring& parSpecific,
                       std::wstring* prefix);

}  // namespace orvane::interaction
