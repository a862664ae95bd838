#include "DescriptionTable.h"

#include "com/Result.h"
#include "com/Variant.h"
#include "Telegram.h"

namespace orvane::interaction {
namespace {

struct DescriptionElement {
    const wchar_t* name;
    BYTE attribute;
    WORD subindex;
    DWORD propertyId;
};

constexpr DescriptionElement kTextElement = {L"Axolent text", kAttributeText, 0, 5001};

constexpr DescriptionElement kDescriptionElements[] = {
    kTextElement,
    {L"Axolent description", kAttributeDescription, 0, 5016},
    {L"Axolent data type", kAttributeDescription, 1, 5008},
    {L"Axolent identifier", kAttributeDescription, 1, 5015},
    {L"Axolent length", kAttributeDescription, 2, 5012},
    {L"Axolent scaling factor", kAttributeDescription, 3, 5002},
    {L"Axolent size index", kAttributeDescription, 4, 5006},
    {L"Axolent conv index", kAttributeDescription, 4, 5007},
    {L"Axolent reserved 5", kAttributeDescription, 5, 5013},
    {L"Axolent name", kAttributeDescription, 6, 5005},
    {L"Axolent minimum", kAttributeDescription, 7, 5003},
    {L"Axolent maximum", kAttributeDescription, 8, 5004},
    {L"Axolent reserved 9", kAttributeDescription, 9, 5014},
    {L"Axolent ID extension", kAttributeDescription, 10, 5009},
    {L"Axolent PZD reference para", kAttributeDescription, 11, 5010},
    {L"Axolent PZD normalization", kAttributeDescription, 12, 5011},
};

}  // namespace

HRESULT TextIndex(BYTE dataType, const VARIANT& value, WORD* index) {
    if (!index) return E_POINTER;
    com::UniqueVariant converted;
    switch (dataType) {
        case kBoolean:
            RETURN_IF_FAILED(
                VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_BOOL));
            *index = V_BOOL(converted.get()) == VARIANT_TRUE ? 1 : 0;
            return S_OK;
        case kUnsigned8:
        case kFormatByte:
        case kUnsigned16:
        case kUnsigned32:
        case kFormatWord:
        case kFormatDoubleWord: {
            RETURN_IF_FAILED(
                VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_I8));
            const ULONGLONG bits = static_cast<ULONGLONG>(V_I8(converted.get()));
            const bool byte = dataType == kUnsigned8 || dataType == kFormatByte;
            *index = static_cast<WORD>(bits & (byte ? 0xFF : 0xFFFF));
            return S_OK;
        }
        default: *index = 0; return S_OK;
    }
}

HRESULT LookupDescription(const wchar_t* name, const DriveParameterRecord& record,
                          const CurrentValueSource& currentValue, DescriptionRequest* request) {
    if (!name || !request) return E_POINTER;
    for (const DescriptionElement& element : kDescriptionElements) {
        if (CompareStringOrdinal(name, -1, element.name, -1, TRUE) != CSTR_EQUAL) continue;
        DescriptionRequest found{element.attribute, element.subindex, 1, element.propertyId};
        if (element.propertyId == kTextElement.propertyId) {
            if (!record.unindexed) {
                found.subindex = record.subindex;
            } else {
                if (!currentValue) return E_POINTER;
                com::UniqueVariant value;
                RETURN_IF_FAILED(currentValue(value.put()));
                RETURN_IF_FAILED(TextIndex(record.dataType, *value, &found.subindex));
            }
        }
        *request = found;
        return S_OK;
    }
    return E_INVALIDARG;
}

}  // namespace orvane::interaction
