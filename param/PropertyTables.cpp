#include "PropertyTables.h"

#include <cwchar>
#include <iterator>

namespace vk {
namespace {

constexpr VARTYPE kBstrArray = VT_ARRAY | VT_BSTR;

constexpr StandardProperty kStandard[] = {
    {1, L"Item Canonical Data Type", VT_I2, L"DataType"},
    {2, L"Item Value", VT_I2, L"CurrentVal"},
    {3, L"Item Quality", VT_I2, L"Quality"},
    {4, L"Item Timestamp", VT_DATE, L"TimeStamp"},
    {5, L"Item Access Rights", VT_I4, L"AccRights"},
    {6, L"Server Scan Rate", VT_R4, L"ScanRate"},
    {100, L"EU Units", VT_BSTR, L"Units"},
    {101, L"Item Description", VT_BSTR, L"Description"},
    {102, L"High EU", VT_R8, L"HiEU"},
    {103, L"Low EU", VT_R8, L"LoEU"},
    {104, L"High Instrument Range", VT_R8, L"HiRange"},
    {105, L"Low Instrument Range", VT_R8, L"LoRange"},
    {106, L"Contact Close Label", VT_BSTR, L"CloseLabel"},
    {107, L"Contact Open Label", VT_BSTR, L"OpenLabel"},
    {108, L"Item Timezone", VT_I4, L"TimeZone"},
    {200, L"Default Display", VT_BSTR, L"DefDisplay"},
    {201, L"Current Foreground Color", VT_I4, L"FgColor"},
    {202, L"Current Background Color", VT_I4, L"BgColor"},
    {203, L"Current Blink", VT_BOOL, L"Blink"},
    {204, L"BMP File", VT_BSTR, L"BmpFile"},
    {205, L"Sound File", VT_BSTR, L"SndFile"},
    {206, L"HTML File", VT_BSTR, L"HtmFile"},
    {207, L"AVI File", VT_BSTR, L"AviFile"},
    {300, L"Condition Status", VT_BSTR, L"Status"},
    {301, L"Alarm Quick Help", VT_BSTR, L"AlmHelp"},
    {302, L"Alarm Area List", kBstrArray, L"AlmList"},
    {303, L"Primary Alarm Area", VT_BSTR, L"AlmArea"},
    {304, L"Condition Logic", VT_BSTR, L"CondLogic"},
    {305, L"Limit Exceeded", VT_BSTR, L"LimExceed"},
    {306, L"Deadband", VT_R8, L"Deadband"},
    {307, L"HiHi Limit", VT_R8, L"HiHiLim"},
    {308, L"Hi Limit", VT_R8, L"HiLim"},
    {309, L"Lo Limit", VT_R8, L"LoLim"},
    {310, L"LoLo Limit", VT_R8, L"LoLoLim"},
    {311, L"Rate of Change Limit", VT_R8, L"ChgLim"},
    {312, L"Deviation Limit", VT_R8, L"DevLim"},
};

constexpr ExtraPropertyRow kAxolentRows[] = {
    {5001, L"Axolent text", L"text for parameter according to Axolent specification", VT_BSTR,
     kReadWrite, kFromDevice},
    {5002, L"Axolent scaling factor", L"scaling factor for the parameter", VT_R4, kReadWrite,
     kFromDevice},
    {5003, L"Axolent minimum", L"minimum value for the parameter", VT_R4, kReadWrite, kFromDevice},
    {5004, L"Axolent maximum", L"maximum value for the parameter", VT_R4, kReadWrite, kFromDevice},
    {5005, L"Axolent name", L"symbolic name for the parameter", VT_BSTR, kReadWrite, kFromDevice},
    {5006, L"Axolent size index", L"size index for parameter according to Axolent specification",
     VT_UI1, kReadOnly, kFromDevice},
    {5007, L"Axolent conv index", L"conversion index according to Axolent specification", VT_I1,
     kReadOnly, kFromDevice},
    {5008, L"Axolent data type", L"data type for the parameter according to Axolent specification",
     VT_UI1, kReadOnly, kFromDevice},
    {5009, L"Axolent ID extension", L"ID extension for the parameter", VT_UI2, kReadOnly,
     kFromDevice},
    {5010, L"Axolent PZD reference para", L"PZD reference parameter for the parameter", VT_UI2,
     kReadOnly, kFromDevice},
    {5011, L"Axolent PZD normalization", L"PZD normalization for the parameter", VT_UI2, kReadOnly,
     kFromDevice},
    {5012, L"Axolent length", L"number of array elements or length of string", VT_UI2, kReadOnly,
     kFromDevice},
    {5013, L"Axolent reserved 5", L"reserved subindex 5", VT_UI4, kReadOnly, kFromDevice},
    {5014, L"Axolent reserved 9", L"reserved subindex 9", VT_UI2, kReadOnly, kFromDevice},
    {5015, L"Axolent identifier", L"identifier bits for the parameter", VT_UI1, kReadOnly,
     kFromDevice},
    {5016, L"Axolent description", L"complete description for the parameter", VT_ARRAY | VT_UI1,
     kReadOnly, kFromDevice},
};

}  // namespace

const ExtraPropertyTable kAxolentProperties = {kAxolentRows, std::size(kAxolentRows)};

const StandardProperty* FindStandardProperty(DWORD id) {
    for (const StandardProperty& property : kStandard)
        if (property.id == id) return &property;
    return nullptr;
}

const StandardProperty* FindStandardPropertyByShortName(const wchar_t* shortName) {
    if (!shortName) return nullptr;
    for (const StandardProperty& property : kStandard)
        if (wcscmp(property.shortName, shortName) == 0) return &property;
    return nullptr;
}

}  // namespace vk
