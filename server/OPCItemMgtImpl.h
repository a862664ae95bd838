#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "OPCItem.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "opc.h"

class COPCGroup;

// IOPCItemMgt of a group: an aggregated part, so the client's references count on
// the group.
class COPCItemMgtImpl : public com::Object<IOPCItemMgt> {
public:
    explicit COPCItemMgtImpl(COPCGroup* group) : group_(group) {}

    STDMETHODIMP AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                          HRESULT** ppErrors) override;
    STDMETHODIMP ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                               OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
    STDMETHODIMP RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    STDMETHODIMP SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                HRESULT** ppErrors) override;
    STDMETHODIMP SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                  HRESULT** ppErrors) override;
    STDMETHODIMP SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                              HRESULT** ppErrors) override;
    STDMETHODIMP CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

private:
    COPCGroup* const group_;  // the outer object; it owns this part
    NameSpaceGate gate_{CLSID_OrvaneInteraction};
};

// Makes an item for a definition: resolved in the model (an unknown ID after `gate`),
// bound, with its ID, active state, client handle, requested type and the group's
// deadband. On failure nothing is left: the binding is ended and a node made for it
// is deleted again.
HRESULT PrepareItem(const OPCITEMDEF& definition, VKModelObject* model, NameSpaceGate* gate,
                    double deadband, com::ComPtr<COPCItem>* out, bool* createdNode);
// Ends the binding of a prepared item and deletes the node made for it.
void DiscardItem(COPCItem* item, VKModelObject* model, bool createdNode);

// Snapshot of a group's bound items for IEnumOPCItemAttributes.
class CEnumItemAttr : public com::Object<IEnumOPCItemAttributes> {
public:
    struct Entry {
        std::wstring accessPath;
        std::wstring itemId;
        BOOL active = FALSE;
        OPCHANDLE client = 0;
        OPCHANDLE server = 0;
        DWORD rights = 0;
        VARTYPE canonical = VT_EMPTY;
        VARTYPE requested = VT_EMPTY;
        DWORD euType = 0;
        com::UniqueVariant euInfo;
    };
    explicit CEnumItemAttr(std::shared_ptr<const std::vector<Entry>> entries, ULONG at = 0)
        : entries_(std::move(entries)), at_(at) {}

    STDMETHODIMP Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override;
    STDMETHODIMP Skip(ULONG celt) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override;

private:
    const std::shared_ptr<const std::vector<Entry>> entries_;
    com::CriticalSection lock_;  // guards at_
    ULONG at_;
};
