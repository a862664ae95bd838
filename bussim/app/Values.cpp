#include "Values.h"

#include <cmath>

#include <opc.h>

#include "com/Resources.h"
#include "com/Strings.h"

namespace bussim {

VARTYPE CanonicalType(ItemType type) {
    switch (type) {
        case ItemType::kBytes: return VT_ARRAY | VT_UI1;
        case ItemType::kUInt16: return VT_UI2;
        case ItemType::kUInt32: return VT_UI4;
        case ItemType::kBool: return VT_BOOL;
        case ItemType::kString: return VT_BSTR;
    }
    return VT_EMPTY;
}

DWORD AccessRights(const ItemInfo& item) {
    return (item.readable ? OPC_READABLE : 0) | (item.writable ? OPC_WRITEABLE : 0);
}

HRESULT StatusToHresult(ItemStatus status) {
    switch (status) {
        case ItemStatus::kOk: return S_OK;
        case ItemStatus::kUnknownItem: return OPC_E_UNKNOWNITEMID;
        case ItemStatus::kNotReadable:
        case ItemStatus::kNotWritable: return OPC_E_BADRIGHTS;
        case ItemStatus::kBadValue: return E_INVALIDARG;
        case ItemStatus::kProfileNotSelected: return kChannelClosed;
        case ItemStatus::kRequestRefused: return kRequestRefused;
        case ItemStatus::kNotReady: return kChannelNotReady;
        case ItemStatus::kNoRequest: return kChannelNoResponse;
    }
    return E_FAIL;
}

HRESULT ToVariant(const ItemValue& value, VARIANT* out) {
    VariantInit(out);
    switch (value.type) {
        case ItemType::kBytes:
            return com::BytesToVariant(value.bytes.data(), value.bytes.size(), out);
        case ItemType::kUInt16:
            V_VT(out) = VT_UI2;
            V_UI2(out) = static_cast<USHORT>(value.number);
            return S_OK;
        case ItemType::kUInt32:
            V_VT(out) = VT_UI4;
            V_UI4(out) = value.number;
            return S_OK;
        case ItemType::kBool:
            V_VT(out) = VT_BOOL;
            V_BOOL(out) = value.flag ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        case ItemType::kString: {
            std::wstring text = com::Utf8ToWide(value.text);
            V_BSTR(out) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!V_BSTR(out)) return E_OUTOFMEMORY;
            V_VT(out) = VT_BSTR;
            return S_OK;
        }
    }
    return E_UNEXPECTED;
}

HRESULT FromVariant(const VARIANT& in, ItemType type, ItemValue* out) {
    if (type == ItemType::kBytes) {
        std::vector<BYTE> bytes;
        if (FAILED(com::VariantToBytes(in, &bytes))) {
            // Whatever converts to a byte array, as the channel converts to
            // whatever a client asked for.
            com::UniqueVariant converted;
            if (FAILED(VariantChangeType(converted.get(), const_cast<VARIANT*>(&in), 0,
                                         VT_ARRAY | VT_UI1)) ||
                FAILED(com::VariantToBytes(*converted, &bytes)))
                return OPC_E_BADTYPE;
        }
        *out = ItemValue::Bytes(std::move(bytes));
        return S_OK;
    }
    if (type == ItemType::kUInt16 || type == ItemType::kUInt32) {
        // Through a double, so that the range is checked the same everywhere
        // (not every VariantChangeType refuses -1 as an unsigned number).
        com::UniqueVariant number;
        if (FAILED(VariantChangeType(number.get(), const_cast<VARIANT*>(&in), 0, VT_R8)))
            return OPC_E_BADTYPE;
        double value = std::round(V_R8(number.get()));
        double max = type == ItemType::kUInt16 ? 65535.0 : 4294967295.0;
        if (!(value >= 0 && value <= max)) return OPC_E_RANGE;
        uint32_t n = static_cast<uint32_t>(value);
        *out = type == ItemType::kUInt16 ? ItemValue::UInt16(static_cast<uint16_t>(n))
                                         : ItemValue::UInt32(n);
        return S_OK;
    }
    com::UniqueVariant converted;
    HRESULT hr =
        VariantChangeType(converted.get(), const_cast<VARIANT*>(&in), 0, CanonicalType(type));
    if (hr == DISP_E_OVERFLOW) return OPC_E_RANGE;
    if (FAILED(hr)) return OPC_E_BADTYPE;
    const VARIANT& v = *converted;
    switch (type) {
        case ItemType::kBool: *out = ItemValue::Bool(V_BOOL(&v) != VARIANT_FALSE); break;
        case ItemType::kString:
            *out = ItemValue::Text(
                com::WideToUtf8(std::wstring_view(V_BSTR(&v), SysStringLen(V_BSTR(&v)))));
            break;
        default: return E_UNEXPECTED;
    }
    return S_OK;
}

bool CanDeliverAs(VARTYPE canonical, VARTYPE requested) {
    if (requested == VT_EMPTY || requested == canonical) return true;
    if (requested & VT_BYREF) return false;
    // Whatever VariantChangeType can make of a sample of the canonical type.
    com::UniqueVariant sample;
    if (canonical == (VT_ARRAY | VT_UI1)) {
        const BYTE zero = '0';
        if (FAILED(com::BytesToVariant(&zero, 1, sample.get()))) return false;
    } else if (canonical == VT_BSTR) {
        V_VT(sample.get()) = VT_BSTR;
        V_BSTR(sample.get()) = SysAllocString(L"0");
        if (!V_BSTR(sample.get())) return false;
    } else {
        V_VT(sample.get()) = canonical;
        V_UI4(sample.get()) = 0;
    }
    com::UniqueVariant converted;
    return SUCCEEDED(VariantChangeType(converted.get(), sample.get(), 0, requested));
}

HRESULT ConvertForClient(VARIANT* value, VARTYPE requested) {
    if (requested == VT_EMPTY || V_VT(value) == requested) return S_OK;
    HRESULT hr = VariantChangeType(value, value, 0, requested);
    if (hr == DISP_E_OVERFLOW) return OPC_E_RANGE;
    return FAILED(hr) ? OPC_E_BADTYPE : S_OK;
}

}  // namespace bussim
