#include "DataStream.h"

#include <oleauto.h>

#include <cstring>
#include <new>

namespace opc {
namespace {

// Room for a T at `offset` within `size` bytes.
template <class T>
bool Fits(size_t offset, size_t size, size_t count = 1) {
    return offset <= size && count <= (size - offset) / sizeof(T);
}

template <class T>
T At(const BYTE* block, size_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof(T));
    return value;
}

// Element types whose arrays travel as plain bytes.
bool FlatElement(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BOOL:
        case VT_ERROR: return true;
        default: return false;
    }
}

// The value at `offset`; false when it or what follows it leaves the block.
bool ReadValue(const BYTE* block, size_t size, size_t offset, com::UniqueVariant* out) {
    if (!Fits<VARIANT>(offset, size)) return false;
    VARIANT raw = At<VARIANT>(block, offset);
    const VARTYPE vt = V_VT(&raw);
    size_t next = offset + sizeof(VARIANT);
    if (vt & VT_BYREF) return false;
    if (vt == VT_BSTR) {
        if (!Fits<DWORD>(next, size)) return false;
        const DWORD bytes = At<DWORD>(block, next);
        next += sizeof(DWORD);
        if (bytes % sizeof(wchar_t) != 0 || !Fits<BYTE>(next, size, bytes)) return false;
        BSTR text = ::SysAllocStringLen(nullptr, bytes / sizeof(wchar_t));
        if (!text) throw std::bad_alloc();
        std::memcpy(text, block + next, bytes);
        VARIANT* v = out->put();
        V_VT(v) = VT_BSTR;
        V_BSTR(v) = text;
        return true;
    }
    if (vt & VT_ARRAY) {
        const VARTYPE element = vt & VT_TYPEMASK;
        if (!FlatElement(element) || !Fits<SAFEARRAY>(next, size)) return false;
        const SAFEARRAY descriptor = At<SAFEARRAY>(block, next);
        next += sizeof(SAFEARRAY);
        if (descriptor.cDims != 1) return false;
        const ULONG count = descriptor.rgsabound[0].cElements;
        SAFEARRAYBOUND bound = {count, descriptor.rgsabound[0].lLbound};
        SAFEARRAY* array = ::SafeArrayCreate(element, 1, &bound);
        if (!array) throw std::bad_alloc();
        if (array->cbElements != descriptor.cbElements ||
            !Fits<BYTE>(next, size, static_cast<size_t>(count) * array->cbElements)) {
            ::SafeArrayDestroy(array);
            return false;
        }
        std::memcpy(array->pvData, block + next, static_cast<size_t>(count) * array->cbElements);
        VARIANT* v = out->put();
        V_VT(v) = vt;
        V_ARRAY(v) = array;
        return true;
    }
    if (!FlatElement(vt) && vt != VT_EMPTY && vt != VT_NULL) return false;
    out->reset(raw);  // a plain value: nothing to own
    return true;
}

void Append(std::vector<BYTE>* block, const void* data, size_t bytes) {
    const BYTE* p = static_cast<const BYTE*>(data);
    block->insert(block->end(), p, p + bytes);
}

void Align(std::vector<BYTE>* block) {
    while (block->size() % 8 != 0) block->push_back(0);
}

}  // namespace

bool CanCarry(const VARIANT& value) {
    const VARTYPE vt = V_VT(&value);
    if (vt & VT_BYREF) return false;
    if (vt == VT_BSTR || vt == VT_EMPTY || vt == VT_NULL) return true;
    if (vt & VT_ARRAY) {
        const SAFEARRAY* array = V_ARRAY(&value);
        return array && array->cDims == 1 && FlatElement(vt & VT_TYPEMASK);
    }
    return FlatElement(vt);
}

namespace {

HRESULT AppendValue(const VARIANT& value, std::vector<BYTE>* block) {
    if (!CanCarry(value)) return DISP_E_BADVARTYPE;
    const VARTYPE vt = V_VT(&value);
    VARIANT head;
    std::memset(&head, 0, sizeof head);
    V_VT(&head) = vt;
    if (vt == VT_BSTR) {
        Append(block, &head, sizeof head);
        const DWORD bytes = ::SysStringByteLen(V_BSTR(&value));
        Append(block, &bytes, sizeof bytes);
        Append(block, V_BSTR(&value), bytes);
        const wchar_t terminator = 0;
        Append(block, &terminator, sizeof terminator);
        return S_OK;
    }
    if (vt & VT_ARRAY) {
        const SAFEARRAY* array = V_ARRAY(&value);
        SAFEARRAY descriptor = *array;
        descriptor.pvData = nullptr;
        descriptor.cLocks = 0;
        descriptor.fFeatures = 0;
        Append(block, &head, sizeof head);
        Append(block, &descriptor, sizeof descriptor);
        Append(block, array->pvData,
               static_cast<size_t>(array->rgsabound[0].cElements) * array->cbElements);
        return S_OK;
    }
    Append(block, &value, sizeof value);
    return S_OK;
}

}  // namespace

HRESULT ReadDataStream(const BYTE* block, size_t size, DataStream* out) try {
    if (!block || !Fits<OPCGROUPHEADER>(0, size)) return E_INVALIDARG;
    const OPCGROUPHEADER header = At<OPCGROUPHEADER>(block, 0);
    // The block ends where its header says, if that is sooner.
    if (header.dwSize < size) size = header.dwSize;
    const size_t first = sizeof(OPCGROUPHEADER);
    DataStream stream;
    stream.group = header.hClientGroup;
    stream.transactionId = header.dwTransactionID;
    stream.status = header.hrStatus;
    // Values lie behind the item headers; an offset into them names no value.
    const size_t valuesStart =
        first + static_cast<size_t>(header.dwItemCount) * sizeof(OPCITEMHEADER1);
    for (DWORD i = 0; i < header.dwItemCount; ++i) {
        const size_t at = first + static_cast<size_t>(i) * sizeof(OPCITEMHEADER1);
        if (!Fits<OPCITEMHEADER1>(at, size)) break;  // the rest lies outside too
        const OPCITEMHEADER1 item = At<OPCITEMHEADER1>(block, at);
        StreamItem entry;
        if (item.dwValueOffset < valuesStart ||
            !ReadValue(block, size, item.dwValueOffset, &entry.value))
            continue;
        entry.client = item.hClient;
        entry.quality = item.wQuality;
        entry.time = item.ftTimeStampItem;
        stream.items.push_back(std::move(entry));
    }
    *out = std::move(stream);
    return S_OK;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT ReadWriteCompleteStream(const BYTE* block, size_t size, WriteCompleteStream* out) try {
    if (!block || !Fits<OPCGROUPHEADERWRITE>(0, size)) return E_INVALIDARG;
    const OPCGROUPHEADERWRITE header = At<OPCGROUPHEADERWRITE>(block, 0);
    WriteCompleteStream stream;
    stream.group = header.hClientGroup;
    stream.transactionId = header.dwTransactionID;
    stream.status = header.hrStatus;
    for (DWORD i = 0; i < header.dwItemCount; ++i) {
        const size_t at =
            sizeof(OPCGROUPHEADERWRITE) + static_cast<size_t>(i) * sizeof(OPCITEMHEADERWRITE);
        if (!Fits<OPCITEMHEADERWRITE>(at, size)) break;
        const OPCITEMHEADERWRITE item = At<OPCITEMHEADERWRITE>(block, at);
        stream.items.push_back({item.hClient, item.dwError});
    }
    *out = std::move(stream);
    return S_OK;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT WriteDataStream(const DataStream& stream, std::vector<BYTE>* block) {
    try {
        std::vector<BYTE> out;
        const DWORD count = static_cast<DWORD>(stream.items.size());
        out.resize(sizeof(OPCGROUPHEADER) + count * sizeof(OPCITEMHEADER1));
        std::vector<OPCITEMHEADER1> headers(count);
        for (DWORD i = 0; i < count; ++i) {
            const StreamItem& item = stream.items[i];
            Align(&out);
            headers[i] = {item.client, static_cast<DWORD>(out.size()), item.quality, 0, item.time};
            const HRESULT hr = AppendValue(*item.value, &out);
            if (FAILED(hr)) return hr;
        }
        const OPCGROUPHEADER header = {static_cast<DWORD>(out.size()), count, stream.group,
                                       stream.transactionId, stream.status};
        std::memcpy(out.data(), &header, sizeof header);
        if (count > 0)
            std::memcpy(out.data() + sizeof header, headers.data(), count * sizeof(OPCITEMHEADER1));
        *block = std::move(out);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT WriteWriteCompleteStream(const WriteCompleteStream& stream, std::vector<BYTE>* block) {
    try {
        std::vector<BYTE> out;
        const OPCGROUPHEADERWRITE header = {static_cast<DWORD>(stream.items.size()), stream.group,
                                            stream.transactionId, stream.status};
        Append(&out, &header, sizeof header);
        for (const WriteResult& r : stream.items) {
            const OPCITEMHEADERWRITE item = {r.client, r.error};
            Append(&out, &item, sizeof item);
        }
        *block = std::move(out);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace opc
