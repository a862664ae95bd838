#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "OPCItem.h"
#include "com/ComPtr.h"
#include "com/SafeArray.h"
#include "com/Variant.h"

// The device results of several items read through their component's
// IvkBulkInteraction in one ReadMultiple call: what the synchronous bulk read and the
// group's device pass share. Each result goes through the item's own
// ProcessDeviceResult, so change detection and qualities are those of a single read.
class BulkDeviceRead {
public:
    // Reads `items`, all bound to the component behind `bulk`. Nothing is locked across
    // the call (it goes to the component and on to the bus). A failed call, an item
    // without an address, or result arrays without one element per item fail as a
    // whole and leave no results.
    HRESULT Read(IvkBulkInteraction* bulk, const std::vector<com::ComPtr<COPCItem>>& items);

    size_t size() const { return static_cast<size_t>(count_); }
    const VARIANT& value(size_t i) const { return Data<VARIANT>(values_)[i]; }
    const VARIANT& quality(size_t i) const { return Data<VARIANT>(qualities_)[i]; }
    const VARIANT& timeStamp(size_t i) const { return Data<VARIANT>(times_)[i]; }
    HRESULT result(size_t i) const { return Data<LONG>(errors_)[i]; }

    // Hands item i's result to the item (ProcessDeviceResult) with what a reader of
    // the item gets.
    HRESULT Apply(COPCItem& item, size_t i, VARIANT* out, WORD* outQuality, DATE* outTime) const;

private:
    template <typename T>
    static const T* Data(const com::UniqueSafeArray& array) {
        return static_cast<const T*>(array.get()->pvData);
    }

    LONG count_ = 0;
    com::UniqueSafeArray values_, qualities_, times_, errors_;
};

// A one-dimensional result array of exactly `count` elements of type vt; errors
// (VT_I4 or VT_ERROR) with vt VT_ERROR.
bool IsBulkResultArray(SAFEARRAY* array, VARTYPE vt, LONG count);
// A new VT_VARIANT array [0, n) with copies of the values.
HRESULT BulkVariantArray(const std::vector<com::UniqueVariant>& values,
                         com::UniqueSafeArray* array);
