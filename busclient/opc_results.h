#pragma once
// Owners of the result arrays that OPC calls hand to the client.

#include <windows.h>

#include "com/Memory.h"
#include "opc.h"

namespace vkopc {

// IOPCItemMgt::AddItems results: the array, each entry's blob, the errors.
class ItemResults {
public:
    explicit ItemResults(size_t count) : m_count(count) {}
    ~ItemResults() {
        if (OPCITEMRESULT* results = m_results.get()) {
            for (size_t i = 0; i < m_count; ++i)
                CoTaskMemFree(results[i].pBlob);
        }
    }
    ItemResults(const ItemResults&) = delete;
    ItemResults& operator=(const ItemResults&) = delete;

    OPCITEMRESULT** put() { return m_results.put(); }
    // A missing array counts as a failure of every item.
    HRESULT Error(size_t i) const { return errors && m_results ? errors[i] : E_FAIL; }
    const OPCITEMRESULT& Result(size_t i) const { return m_results[i]; }

    com::CoTaskMem<HRESULT> errors;

private:
    size_t m_count;
    com::CoTaskMem<OPCITEMRESULT> m_results;
};

// IOPCSyncIO::Read results: the item states with their values, the errors.
class ItemStates {
public:
    explicit ItemStates(size_t count) : m_count(count) {}
    ~ItemStates() {
        if (OPCITEMSTATE* states = m_states.get()) {
            for (size_t i = 0; i < m_count; ++i)
                VariantClear(&states[i].vDataValue);
        }
    }
    ItemStates(const ItemStates&) = delete;
    ItemStates& operator=(const ItemStates&) = delete;

    OPCITEMSTATE** put() { return m_states.put(); }
    HRESULT Error(size_t i) const { return errors && m_states ? errors[i] : E_FAIL; }
    const OPCITEMSTATE& State(size_t i) const { return m_states[i]; }

    com::CoTaskMem<HRESULT> errors;

private:
    size_t m_count;
    com::CoTaskMem<OPCITEMSTATE> m_states;
};

}  // namespace vkopc
