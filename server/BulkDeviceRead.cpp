#include "BulkDeviceRead.h"

#include "com/Result.h"

namespace {

bool IsVector(SAFEARRAY* array, VARTYPE vt, LONG count) {
    VARTYPE type = VT_EMPTY;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &type)) ||
        type != vt)
        return false;
    return array->rgsabound[0].cElements == static_cast<ULONG>(count);
}

}  // namespace

bool IsBulkResultArray(SAFEARRAY* array, VARTYPE vt, LONG count) {
    if (vt == VT_ERROR) return IsVector(array, VT_I4, count) || IsVector(array, VT_ERROR, count);
    return IsVector(array, vt, count);
}

HRESULT BulkVariantArray(const std::vector<com::UniqueVariant>& values,
                         com::UniqueSafeArray* array) {
    array->reset(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size())));
    RETURN_HR_IF(E_OUTOFMEMORY, !array->get());
    VARIANT* data = static_cast<VARIANT*>(array->get()->pvData);
    for (size_t i = 0; i < values.size(); ++i) {
        const HRESULT hr = values[i].copy_to(&data[i]);
        if (FAILED(hr)) {
            array->reset();
            return hr;
        }
    }
    return S_OK;
}

HRESULT BulkDeviceRead::Read(IvkBulkInteraction* bulk,
                             const std::vector<com::ComPtr<COPCItem>>& items) {
    count_ = 0;
    RETURN_HR_IF(E_INVALIDARG, !bulk || items.empty());
    std::vector<com::UniqueVariant> addresses(items.size());
    for (size_t i = 0; i < items.size(); ++i)
        RETURN_IF_FAILED(items[i]->Address(addresses[i].put()));
    com::UniqueSafeArray request;
    RETURN_IF_FAILED(BulkVariantArray(addresses, &request));
    const LONG count = static_cast<LONG>(items.size());
    RETURN_IF_FAILED(com::ComBoundary([&] {
        return bulk->ReadMultiple(count, request.get(), values_.put(), qualities_.put(),
                                  times_.put(), errors_.put());
    }));
    if (!IsBulkResultArray(values_.get(), VT_VARIANT, count) ||
        !IsBulkResultArray(qualities_.get(), VT_VARIANT, count) ||
        !IsBulkResultArray(times_.get(), VT_VARIANT, count) ||
        !IsBulkResultArray(errors_.get(), VT_ERROR, count))
        return E_UNEXPECTED;
    count_ = count;
    return S_OK;
}

HRESULT BulkDeviceRead::Apply(COPCItem& item, size_t i, VARIANT* out, WORD* outQuality,
                              DATE* outTime) const {
    return item.ProcessDeviceResult(value(i), quality(i), timeStamp(i), result(i), out, outQuality,
                                    outTime);
}
