#include "StorageFormat.h"

#include <oleauto.h>

#include <cstring>

#include "com/SafeArray.h"
#include "com/ScopeExit.h"
#include "com/Strings.h"

namespace vk::storage {
namespace {

constexpr HRESULT kCorrupt = STG_E_DOCFILECORRUPT;

// Bytes of one scalar of a base type; 0 for a type the format does not list.
// VT_DECIMAL fills the whole VARIANT (its first two bytes repeat the VARTYPE).
size_t ScalarSize(VARTYPE base) {
    switch (base) {
        case VT_I1:
        case VT_UI1: return 1;
        case VT_I2:
        case VT_BOOL:
        case VT_UI2: return 2;
        case VT_I4:
        case VT_R4:
        case VT_ERROR:
        case VT_UI4:
        case VT_INT:
        case VT_UINT: return 4;
        case VT_R8:
        case VT_CY:
        case VT_DATE: return 8;
        case VT_DECIMAL: return 16;
        default: return 0;
    }
}

// The fewest bytes one array element of a base type takes; 0 for a type no array may hold.
size_t MinElementSize(VARTYPE base) {
    if (base == VT_BSTR) return 4;
    if (base == VT_VARIANT) return 2;
    return ScalarSize(base);
}

void AppendBstr(Bytes* out, BSTR text) {
    const UINT length = SysStringLen(text);
    AppendValue<DWORD>(out, length);
    if (length == 0) return;
    AppendBytes(out, text, length * sizeof(wchar_t));
    AppendValue<wchar_t>(out, L'\0');
}

HRESULT ReadBstr(ByteReader* in, BSTR* out) {
    DWORD length = 0;
    if (!in->ReadValue(&length)) return kCorrupt;
    if (length == 0) {
        *out = SysAllocString(L"");
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    if (length >= in->left() / sizeof(wchar_t)) return kCorrupt;  // the units and the zero
    BSTR text = SysAllocStringLen(nullptr, length);
    if (!text) return E_OUTOFMEMORY;
    wchar_t zero = 0;
    in->Read(text, length * sizeof(wchar_t));
    in->ReadValue(&zero);
    *out = text;
    return S_OK;
}

HRESULT AppendVariantAt(Bytes* out, const VARIANT& value, int depth);
HRESULT ReadVariantAt(ByteReader* in, VARIANT* out, int depth);

HRESULT AppendArray(Bytes* out, VARTYPE base, SAFEARRAY* array, int depth) {
    const size_t scalar = ScalarSize(base);
    if (!array || MinElementSize(base) == 0) return STG_E_CANTSAVE;
    if (base != VT_BSTR && base != VT_VARIANT && array->cbElements != scalar) return STG_E_CANTSAVE;
    const UINT dims = SafeArrayGetDim(array);
    AppendValue<DWORD>(out, dims);
    size_t count = 1;
    for (UINT d = 1; d <= dims; ++d) {
        LONG lower = 0, upper = 0;
        if (FAILED(SafeArrayGetLBound(array, d, &lower)) ||
            FAILED(SafeArrayGetUBound(array, d, &upper)))
            return STG_E_CANTSAVE;
        AppendValue<LONG>(out, lower);
        AppendValue<LONG>(out, upper);
        count *= static_cast<size_t>(static_cast<LONGLONG>(upper) - lower + 1);
    }
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return STG_E_CANTSAVE;
    com::ScopeExit unaccess([&] { SafeArrayUnaccessData(array); });
    // Memory order is the file's order: the first dimension varies fastest.
    for (size_t i = 0; i < count; ++i) {
        if (base == VT_BSTR) {
            AppendBstr(out, static_cast<BSTR*>(data)[i]);
        } else if (base == VT_VARIANT) {
            const HRESULT hr = AppendVariantAt(out, static_cast<VARIANT*>(data)[i], depth + 1);
            if (FAILED(hr)) return hr;
        } else {
            AppendBytes(out, static_cast<const BYTE*>(data) + i * scalar, scalar);
        }
    }
    return S_OK;
}

HRESULT AppendVariantAt(Bytes* out, const VARIANT& value, int depth) {
    if (depth > kMaxVariantDepth) return STG_E_CANTSAVE;
    const VARTYPE vt = V_VT(&value);
    const VARTYPE base = vt & VT_TYPEMASK;
    if (vt == (VT_BYREF | VT_VARIANT)) {
        if (!V_VARIANTREF(&value)) return STG_E_CANTSAVE;
        AppendValue<VARTYPE>(out, vt);
        return AppendVariantAt(out, *V_VARIANTREF(&value), depth + 1);
    }
    if (vt & (VT_BYREF | VT_VECTOR | VT_RESERVED)) return STG_E_CANTSAVE;
    if (vt & VT_ARRAY) {
        AppendValue<VARTYPE>(out, vt);
        return AppendArray(out, base, V_ARRAY(&value), depth);
    }
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL: AppendValue<VARTYPE>(out, vt); return S_OK;
        case VT_BSTR:
            AppendValue<VARTYPE>(out, vt);
            AppendBstr(out, V_BSTR(&value));
            return S_OK;
        case VT_DECIMAL:
            AppendValue<VARTYPE>(out, vt);
            AppendBytes(out, &value, 16);
            return S_OK;
        default: break;
    }
    const size_t size = ScalarSize(vt);
    if (size == 0) return STG_E_CANTSAVE;  // interfaces, VT_RECORD, VT_I8, ...
    AppendValue<VARTYPE>(out, vt);
    AppendBytes(out, &V_UI1(&value), size);
    return S_OK;
}

HRESULT ReadArray(ByteReader* in, VARTYPE base, VARIANT* out, int depth) {
    const size_t min_size = MinElementSize(base);
    if (min_size == 0) return kCorrupt;
    DWORD dims = 0;
    if (!in->ReadValue(&dims) || dims == 0 || dims > 0xFFFF ||
        dims > in->left() / (2 * sizeof(LONG)))
        return kCorrupt;
    std::vector<SAFEARRAYBOUND> bounds(dims);
    ULONGLONG count = 1;
    for (SAFEARRAYBOUND& bound : bounds) {
        LONG lower = 0, upper = 0;
        in->ReadValue(&lower);
        in->ReadValue(&upper);
        const LONGLONG elements = static_cast<LONGLONG>(upper) - lower + 1;
        if (elements < 0) return kCorrupt;
        bound.lLbound = lower;
        bound.cElements = static_cast<ULONG>(elements);
        count *= static_cast<ULONGLONG>(elements);
        // Every element takes at least min_size bytes of what is left.
        if (count > in->left() / min_size) return kCorrupt;
    }
    com::UniqueSafeArray array(SafeArrayCreate(base, dims, bounds.data()));
    if (!array.get()) return E_OUTOFMEMORY;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array.get(), &data))) return E_UNEXPECTED;
    HRESULT hr = S_OK;
    {
        com::ScopeExit unaccess([&] { SafeArrayUnaccessData(array.get()); });
        const size_t scalar = ScalarSize(base);
        for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
            if (base == VT_BSTR) {
                hr = ReadBstr(in, static_cast<BSTR*>(data) + i);
            } else if (base == VT_VARIANT) {
                hr = ReadVariantAt(in, static_cast<VARIANT*>(data) + i, depth + 1);
            } else if (!in->Read(static_cast<BYTE*>(data) + i * scalar, scalar)) {
                hr = kCorrupt;
            }
        }
    }
    if (FAILED(hr)) return hr;
    V_VT(out) = VT_ARRAY | base;
    V_ARRAY(out) = array.release();
    return S_OK;
}

// Into a VARIANT holding nothing; on failure it still holds nothing.
HRESULT ReadVariantAt(ByteReader* in, VARIANT* out, int depth) {
    if (depth > kMaxVariantDepth) return kCorrupt;
    VARTYPE vt = VT_EMPTY;
    if (!in->ReadValue(&vt)) return kCorrupt;
    if (vt == (VT_BYREF | VT_VARIANT)) return ReadVariantAt(in, out, depth + 1);
    if (vt & (VT_BYREF | VT_VECTOR | VT_RESERVED)) return kCorrupt;
    if (vt & VT_ARRAY) return ReadArray(in, vt & VT_TYPEMASK, out, depth);
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL: V_VT(out) = vt; return S_OK;
        case VT_BSTR: {
            BSTR text = nullptr;
            const HRESULT hr = ReadBstr(in, &text);
            if (FAILED(hr)) return hr;
            V_VT(out) = VT_BSTR;
            V_BSTR(out) = text;
            return S_OK;
        }
        case VT_DECIMAL:
            if (!in->Read(out, 16)) return kCorrupt;
            V_VT(out) = VT_DECIMAL;
            return S_OK;
        default: break;
    }
    const size_t size = ScalarSize(vt);
    if (size == 0 || !in->Read(&V_UI1(out), size)) return kCorrupt;
    V_VT(out) = vt;
    return S_OK;
}

}  // namespace

bool ByteReader::Read(void* out, size_t size) noexcept {
    if (size > left_) return false;
    std::memcpy(out, data_, size);
    data_ += size;
    left_ -= size;
    return true;
}

void AppendBytes(Bytes* out, const void* data, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

void AppendString(Bytes* out, std::wstring_view text) {
    if (text.empty()) {
        AppendValue<DWORD>(out, 0);
        return;
    }
    AppendValue<DWORD>(out, static_cast<DWORD>(text.size() + 1));
    AppendBytes(out, text.data(), text.size() * sizeof(wchar_t));
    AppendValue<wchar_t>(out, L'\0');
}

HRESULT ReadString(ByteReader* in, std::wstring* out) {
    DWORD count = 0;
    if (!in->ReadValue(&count)) return kCorrupt;
    if (count > in->left() / sizeof(wchar_t)) return kCorrupt;
    std::wstring units(count, L'\0');
    in->Read(units.data(), count * sizeof(wchar_t));
    units.resize(wcsnlen(units.c_str(), count));
    out->swap(units);
    return S_OK;
}

void AppendGuidText(Bytes* out, REFGUID guid) { AppendString(out, com::GuidToString(guid, true)); }

HRESULT ReadGuidText(ByteReader* in, GUID* out) {
    std::wstring text;
    const HRESULT hr = ReadString(in, &text);
    if (FAILED(hr)) return hr;
    // An empty text is the default class, GUID_NULL.
    if (text.empty()) {
        *out = GUID_NULL;
        return S_OK;
    }
    return com::StringToGuid(text, out) && text.front() == L'{' ? S_OK : kCorrupt;
}

HRESULT AppendVariant(Bytes* out, const VARIANT& value) { return AppendVariantAt(out, value, 0); }

HRESULT ReadVariant(ByteReader* in, VARIANT* out) {
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr = ReadVariantAt(in, &value, 0);
    if (FAILED(hr)) {
        VariantClear(&value);
        return hr;
    }
    VariantClear(out);
    *out = value;
    return S_OK;
}

void AppendNameList(Bytes* out, const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) {
        AppendValue<DWORD>(out, static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
        AppendBytes(out, name.data(), name.size() * sizeof(wchar_t));
        AppendValue<wchar_t>(out, L'\0');
    }
}

HRESULT ReadNameList(ByteReader* in, std::vector<std::wstring>* out) {
    std::vector<std::wstring> names;
    while (in->left() > 0) {
        DWORD count = 0;
        if (!in->ReadValue(&count)) return kCorrupt;
        if (count == 0) break;
        if (count % sizeof(wchar_t) != 0 || count > in->left()) return kCorrupt;
        std::wstring units(count / sizeof(wchar_t), L'\0');
        in->Read(units.data(), count);
        units.resize(wcsnlen(units.c_str(), units.size()));
        names.push_back(std::move(units));
    }
    out->swap(names);
    return S_OK;
}

}  // namespace vk::storage
