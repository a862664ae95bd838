// Item property tables of a parameter node: the OPC DA 2.0 standard
// properties and the extra rows a parameter class adds.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

namespace vk {

struct StandardProperty {
    DWORD id;
    const wchar_t* description;
    VARTYPE type;
    const wchar_t* shortName;
};

// The table holds ids 1-6, 100-108, 200-207 and 300-312; a node serves only 1 to 6.
inline constexpr DWORD kLastServedStandardId = 6;

const StandardProperty* FindStandardProperty(DWORD id);
const StandardProperty* FindStandardPropertyByShortName(const wchar_t* shortName);

enum PropertyAccess : DWORD { kReadOnly = 1, kWriteOnly = 2, kReadWrite = 3 };
enum PropertyAvailability : DWORD { kHeldByNode = 1, kFromDevice = 2 };

// One row of a class's extra-property table; objects copy the table at
// construction and own the values of their copy.
struct ExtraPropertyRow {
    DWORD id;
    const wchar_t* name;
    const wchar_t* description;
    VARTYPE type;
    DWORD access;
    DWORD availability;
};

struct ExtraPropertyTable {
    const ExtraPropertyRow* rows;
    size_t count;
};

// The Axolent drive-profile rows 5001-5016 of OV_Parameter.
extern const ExtraPropertyTable kAxolentProperties;

// The property a drive must supply: read or write it through the interaction component.
inline constexpr HRESULT kPropertyFromDevice = static_cast<HRESULT>(0xC0120001);
inline constexpr HRESULT kOpcInvalidPid = static_cast<HRESULT>(0xC0040203);

}  // namespace vk
