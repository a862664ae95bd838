#include "MarshalCases.h"

#include <cstring>
#include <sstream>

namespace marshal {

namespace {

// A one-dimensional array with lower bound 0.
template <class T, class Put>
com::UniqueVariant MakeArray(VARTYPE vt, const std::vector<T>& values, Put put) {
    com::UniqueVariant v;
    SAFEARRAY* array = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(values.size()));
    if (!array) throw std::bad_alloc();
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) put(array, i, values[i]);
    V_VT(v.get()) = VT_ARRAY | vt;
    V_ARRAY(v.get()) = array;
    return v;
}

bool SameElements(SAFEARRAY* a, SAFEARRAY* b, VARTYPE vt) {
    if (SafeArrayGetDim(a) != 1 || SafeArrayGetDim(b) != 1) return false;
    LONG aLow = 0, aHigh = -1, bLow = 0, bHigh = -1;
    SafeArrayGetLBound(a, 1, &aLow);
    SafeArrayGetUBound(a, 1, &aHigh);
    SafeArrayGetLBound(b, 1, &bLow);
    SafeArrayGetUBound(b, 1, &bHigh);
    if (aLow != bLow || aHigh != bHigh) return false;
    for (LONG i = aLow; i <= aHigh; ++i) {
        if (vt == VT_BSTR) {
            BSTR x = nullptr, y = nullptr;
            SafeArrayGetElement(a, &i, &x);
            SafeArrayGetElement(b, &i, &y);
            const bool same =
                VarBstrCmp(x, y, LOCALE_INVARIANT, 0) == static_cast<HRESULT>(VARCMP_EQ);
            SysFreeString(x);
            SysFreeString(y);
            if (!same) return false;
        } else {
            if (SafeArrayGetElemsize(a) != SafeArrayGetElemsize(b)) return false;
            void* x = nullptr;
            void* y = nullptr;
            SafeArrayPtrOfIndex(a, &i, &x);
            SafeArrayPtrOfIndex(b, &i, &y);
            if (std::memcmp(x, y, SafeArrayGetElemsize(a)) != 0) return false;
        }
    }
    return true;
}

}  // namespace

com::UniqueVariant MakeI2(SHORT value) {
    com::UniqueVariant v;
    V_VT(v.get()) = VT_I2;
    V_I2(v.get()) = value;
    return v;
}

com::UniqueVariant MakeR4(FLOAT value) {
    com::UniqueVariant v;
    V_VT(v.get()) = VT_R4;
    V_R4(v.get()) = value;
    return v;
}

com::UniqueVariant MakeR8(double value) {
    com::UniqueVariant v;
    V_VT(v.get()) = VT_R8;
    V_R8(v.get()) = value;
    return v;
}

com::UniqueVariant MakeBool(bool value) {
    com::UniqueVariant v;
    V_VT(v.get()) = VT_BOOL;
    V_BOOL(v.get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

com::UniqueVariant MakeBstr(const std::wstring& text) {
    return com::UniqueVariant(std::wstring_view(text));
}

com::UniqueVariant MakeDate(double value) {
    com::UniqueVariant v;
    V_VT(v.get()) = VT_DATE;
    V_DATE(v.get()) = value;
    return v;
}

com::UniqueVariant MakeI4Array(const std::vector<LONG>& values) {
    return MakeArray(VT_I4, values,
                     [](SAFEARRAY* a, LONG i, LONG value) { SafeArrayPutElement(a, &i, &value); });
}

com::UniqueVariant MakeR8Array(const std::vector<double>& values) {
    return MakeArray(VT_R8, values, [](SAFEARRAY* a, LONG i, double value) {
        SafeArrayPutElement(a, &i, &value);
    });
}

com::UniqueVariant MakeBstrArray(const std::vector<std::wstring>& values) {
    return MakeArray(VT_BSTR, values, [](SAFEARRAY* a, LONG i, const std::wstring& text) {
        BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        SafeArrayPutElement(a, &i, s);  // copies
        SysFreeString(s);
    });
}

std::vector<com::UniqueVariant> WriteValues() {
    std::vector<com::UniqueVariant> values;
    values.push_back(MakeI2(-32768));
    values.push_back(MakeBstr(L"Sollwert – ÄÖÜ"));
    values.push_back(MakeI4Array({1, -2, 0x7FFFFFFF}));
    return values;
}

std::vector<com::UniqueVariant> ReadValues() {
    std::vector<com::UniqueVariant> values;
    values.push_back(MakeR4(1500.25f));
    values.push_back(com::UniqueVariant());  // a failed item carries VT_EMPTY
    values.push_back(MakeBstrArray({L"Aus", L"", L"Ein ✓"}));
    return values;
}

std::vector<com::UniqueVariant> PropertyValues() {
    std::vector<com::UniqueVariant> values;
    values.push_back(MakeI2(VT_R4));
    values.push_back(com::UniqueVariant());
    values.push_back(MakeBstr(L"1/min"));
    return values;
}

std::vector<HRESULT> PropertyErrors() { return {S_OK, OPC_E_INVALID_PID, S_OK}; }

std::vector<ItemDefCase> ItemDefCases() {
    return {
        {kAccessPath, kFullItemID, TRUE, ClientItems()[0], {}, VT_R4},
        {nullptr, L"", FALSE, ClientItems()[1], Blob(), VT_EMPTY},
        {L"", LongText(), TRUE, ClientItems()[2], {0x42}, VT_ARRAY | VT_BSTR},
    };
}

std::vector<ItemResultCase> ItemResultCases() {
    return {
        {ServerItems()[0], VT_R4, OPC_READABLE | OPC_WRITEABLE, Blob()},
        {ServerItems()[1], VT_EMPTY, 0, {}},
        {ServerItems()[2], VT_ARRAY | VT_BSTR, OPC_READABLE, {0x01, 0x02}},
    };
}

bool Matches(const OPCITEMDEF& def, const ItemDefCase& expected) {
    return SameString(def.szAccessPath, expected.accessPath) &&
           SameString(def.szItemID, expected.itemId.c_str()) && def.bActive == expected.active &&
           def.hClient == expected.client && SameBytes(def.dwBlobSize, def.pBlob, expected.blob) &&
           def.vtRequestedDataType == expected.requested && def.wReserved == 0;
}

bool SameBytes(DWORD size, const BYTE* bytes, const std::vector<BYTE>& expected) {
    if (size != expected.size()) return false;
    if (size == 0) return true;
    return bytes && std::memcmp(bytes, expected.data(), size) == 0;
}

std::vector<OPCEUTYPE> EuTypes() { return {OPC_NOENUM, OPC_ANALOG, OPC_ENUMERATED}; }

com::UniqueVariant EuInfo(size_t item) {
    switch (item) {
        case 1: return MakeR8Array({0.0, 6000.0});
        case 2: return MakeBstrArray({L"Stopp", L"Lauf", L"Störung"});
        default: return com::UniqueVariant();
    }
}

bool SameVariant(const VARIANT& a, const VARIANT& b) {
    if (V_VT(&a) != V_VT(&b)) return false;
    const VARTYPE vt = V_VT(&a);
    if (vt & VT_ARRAY) return SameElements(V_ARRAY(&a), V_ARRAY(&b), vt & VT_TYPEMASK);
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL: return true;
        case VT_I2: return V_I2(&a) == V_I2(&b);
        case VT_I4: return V_I4(&a) == V_I4(&b);
        case VT_R4: return V_R4(&a) == V_R4(&b);
        case VT_R8: return V_R8(&a) == V_R8(&b);
        case VT_DATE: return V_DATE(&a) == V_DATE(&b);
        case VT_BOOL: return V_BOOL(&a) == V_BOOL(&b);
        case VT_BSTR:
            return VarBstrCmp(V_BSTR(&a), V_BSTR(&b), LOCALE_INVARIANT, 0) ==
                   static_cast<HRESULT>(VARCMP_EQ);
        default: return false;
    }
}

std::wstring Describe(const VARIANT& v) {
    std::wostringstream text;
    text << L"vt " << V_VT(&v);
    if (V_VT(&v) & VT_ARRAY) {
        LONG low = 0, high = -1;
        SafeArrayGetLBound(V_ARRAY(&v), 1, &low);
        SafeArrayGetUBound(V_ARRAY(&v), 1, &high);
        text << L" [" << low << L".." << high << L"]";
        return text.str();
    }
    VARIANT s;
    VariantInit(&s);
    if (SUCCEEDED(VariantChangeType(&s, const_cast<VARIANT*>(&v), 0, VT_BSTR)))
        text << L" \"" << V_BSTR(&s) << L"\"";
    VariantClear(&s);
    return text.str();
}

}  // namespace marshal
