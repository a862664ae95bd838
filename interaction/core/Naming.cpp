#include "Naming.h"

#include <cwchar>
#include <cwctype>

namespace orvane::interaction {
namespace {

std::wstring Replace(std::wstring text, const wchar_t* characters) {
    for (wchar_t& c : text) {
        if (std::wcschr(characters, c)) c = L'_';
    }
    return text;
}

}  // namespace

std::wstring BusServerNodeName(const std::wstring& progId) { return Replace(progId, L"/.\\:"); }

std::wstring DeviceNodeName(const std::wstring& devicePrefix) {
    return Replace(devicePrefix, L"/.\\:[]");
}

std::wstring BusServerAccessPath(const std::wstring& progId) { return L"opc://" + progId + L"/"; }

bool PrefixFromMarker(const std::wstring& itemId, std::wstring* prefix) {
    const size_t marker = std::wcslen(kVendorMarker);
    if (itemId.size() <= marker) return false;
    *prefix = itemId.substr(0, itemId.size() - marker);
    return true;
}

std::wstring PatternFilter(const std::wstring& devSpecific, const std::wstring& parSpecific) {
    std::wstring filter = devSpecific;
    const size_t number = filter.find(L"%d");
    if (number != std::wstring::npos) filter.replace(number, 2, L"*");
    return filter + L"*" + parSpecific;
}

bool MatchesDevicePattern(const std::wstring& itemId, const std::wstring& devSpecific) {
    const size_t number = devSpecific.find(L"%d");
    const std::wstring head =
        number == std::wstring::npos ? devSpecific : devSpecific.substr(0, number);
    if (itemId.compare(0, head.size(), head) != 0) return false;
    if (number == std::wstring::npos) return true;
    // "%d" skips leading white space and takes an optional sign before the digits.
    size_t pos = head.size();
    while (pos < itemId.size() && std::iswspace(itemId[pos])) ++pos;
    if (pos < itemId.size() && (itemId[pos] == L'+' || itemId[pos] == L'-')) ++pos;
    return pos < itemId.size() && std::iswdigit(itemId[pos]);
}

bool PrefixFromChannel(const std::wstring& itemId, const std::wstring& parSpecific,
                       std::wstring* prefix) {
    if (itemId.size() <= parSpecific.size()) return false;
    *prefix = itemId.substr(0, itemId.size() - parSpecific.size());
    return true;
}

}  // namespace orvane::interaction
