#include "DialogRules.h"

#include "resource.h"

namespace ovconfig {
namespace {

// {3CF19FF3-907B-11D4-B4A7-0050DA3F121C} "Busserver PROFIBUS-DP"
constexpr CATID kCategoryBusServerDp = {
    0x3CF19FF3, 0x907B, 0x11D4, {0xB4, 0xA7, 0x00, 0x50, 0xDA, 0x3F, 0x12, 0x1C}};
// OPC Data Access 1.0 and 2.0.
constexpr CATID kCategoryDa10 = {
    0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
constexpr CATID kCategoryDa20 = {
    0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

constexpr DWORD kTestValues[] = {0, 1, 3};

}  // namespace

int ComboIndexForTestValue(DWORD value) {
    for (int index = 0; index < 3; ++index)
        if (kTestValues[index] == value) return index;
    return -1;
}

std::optional<DWORD> TestValueForComboIndex(int index) {
    if (index < 0 || index >= 3) return std::nullopt;
    return kTestValues[index];
}

std::optional<DWORD> SerialBusAccessToSave(DWORD stored, bool checked) {
    if ((stored != 0) == checked) return std::nullopt;
    return checked ? 1 : 0;
}

std::vector<CATID> CheckedCategories(bool busServer, bool da10, bool da20) {
    std::vector<CATID> categories;
    if (busServer) categories.push_back(kCategoryBusServerDp);
    if (da10) categories.push_back(kCategoryDa10);
    if (da20) categories.push_back(kCategoryDa20);
    return categories;
}

std::vector<std::wstring> CandidateProgIds(const std::vector<com::CategoryClass>& classes,
                                           const std::wstring& ownProgId) {
    std::vector<std::wstring> progIds;
    for (const com::CategoryClass& entry : classes)
        if (!entry.progId.empty() && entry.progId != ownProgId) progIds.push_back(entry.progId);
    return progIds;
}

bool IsDevSpecificAcceptable(const std::wstring& devSpecific) {
    const size_t first = devSpecific.find(L"%d");
    return first == std::wstring::npos || devSpecific.find(L"%d", first + 2) == std::wstring::npos;
}

std::vector<int> ControlsHiddenBy(DWORD mask) {
    std::vector<int> ids;
    if (mask & 0x1)
        ids.insert(ids.end(), {IDC_CATEGORY_BUS, IDC_CATEGORY_DA10, IDC_CATEGORY_DA20,
                               IDC_DISPLAY_LABEL, IDC_CATEGORY_FRAME});
    if (mask & 0x4)
        ids.insert(ids.end(), {IDC_DEV_SPECIFIC, IDC_PAR_SPECIFIC, IDC_SERVER_GROUP, IDC_DEV_LABEL,
                               IDC_PAR_LABEL});
    if (mask & 0x2)
        ids.insert(ids.end(), {IDC_TEST_AT_CREATE, IDC_TEST_GROUP, IDC_TEST_LABEL,
                               IDC_RESERVED_1018, IDC_SERIAL_BUS_ACCESS});
    return ids;
}

RECT FitPicture(const RECT& frame, SIZE picture) {
    const LONG width = frame.right - frame.left;
    const LONG height = frame.bottom - frame.top;
    if (width <= 0 || height <= 0 || picture.cx <= 0 || picture.cy <= 0) return frame;
    // width / height > cx / cy, without division.
    if (static_cast<LONGLONG>(width) * picture.cy > static_cast<LONGLONG>(height) * picture.cx) {
        const LONG fitted =
            static_cast<LONG>(static_cast<LONGLONG>(height) * picture.cx / picture.cy);
        return {frame.right - fitted, frame.top, frame.right, frame.bottom};
    }
    const LONG fitted = static_cast<LONG>(static_cast<LONGLONG>(width) * picture.cy / picture.cx);
    return {frame.left, frame.top, frame.right, frame.top + fitted};
}

}  // namespace ovconfig
