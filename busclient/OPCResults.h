#pragma once
// Owners of the result arrays that OPC calls hand to the client.

#include <windows.h>

#include "com/Memory.h"
#include "opc.h"

namespace vkopc {

// IOPCItemMgt::AddItems results: the array, each entry's blob, the errors.
class ItemResults {
public:
    explicit ItemResults(size_t count) : count_(count) {}
    ~ItemResults() {
        if (OPCITEMRESULT* results = results_.get()) {
            for (size_t i = 0; i < count_; ++i) CoTaskMemFree(results[i].pBlob);
        }
    }
    ItemResults(const ItemResults&) = delete;
    ItemResults& operator=(const ItemResults&) = delete;

    OPCITEMRESULT** put() { return results_.put(); }
    // A missing array counts as a failure of every item.
    HRESULT Error(size_t i) const { return errors && results_ ? errors[i] : E_FAIL; }
    const OPCITEMRESULT& Result(size_t i) const { return results_[i]; }

    com::CoTaskMem<HRESULT> errors;

private:
    size_t count_;
    com::CoTaskMem<OPCITEMRESULT> results_;
};

// IOPCSyncIO::Read results: the item states with their values, the errors.
class ItemStates {
public:
    explicit ItemStates(size_t count) : count_(count) {}
    ~ItemStates() {
        if (OPCITEMSTATE* states = states_.get()) {
            for (size_t i = 0; i < count_; ++i) VariantClear(&states[i].vDataValue);
        }
    }
    ItemStates(const ItemStates&) = delete;
    ItemStates& operator=(const ItemStates&) = delete;

    OPCITEMSTATE** put() { return states_.put(); }
    HRESULT Error(size_t i) const { return errors && states_ ? errors[i] : E_FAIL; }
    const OPCITEMSTATE& State(size_t i) const { return states_[i]; }

    com::CoTaskMem<HRESULT> errors;

private:
    size_t count_;
    com::CoTaskMem<OPCITEMSTATE> states_;
};

}  // namespace vkopc
