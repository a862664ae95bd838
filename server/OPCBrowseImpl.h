#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "opc.h"
#include "vkmodel.h"

class OPCOrvane;

// IOPCBrowseServerAddressSpace of a server object: a tear-off, one per query, so
// that every browser has its own position. Object nodes are branches, parameters
// leaves.
class COPCBrowseServerAddressSpaceImpl
    : public com::TearOff<OPCOrvane, IOPCBrowseServerAddressSpace> {
public:
    explicit COPCBrowseServerAddressSpaceImpl(OPCOrvane* owner);

    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                      LPCWSTR szString) override;
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                  VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                  LPENUMSTRING* ppIEnumString) override;
    STDMETHODIMP GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    STDMETHODIMP BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

private:
    struct LeafFilter {
        std::wstring pattern;
        VARTYPE vt;
        DWORD rights;
    };
    // Builds the namespace on first use (device discovery and identification).
    void CheckNameSpace();
    com::ComPtr<VKModelObject> position() const;
    HRESULT ListLeaves(VKModelObject* node, VKModelObject* base, const LeafFilter& filter,
                       bool flat, int depth, std::vector<std::wstring>* out);

    const com::ComPtr<VKModelObject> root_;
    std::atomic<long> checked_{0};
    // RPC threads share a browser: guards position_ (a position held by one call
    // must not be released under it by another).
    mutable com::CriticalSection lock_;
    com::ComPtr<VKModelObject> position_;
};
