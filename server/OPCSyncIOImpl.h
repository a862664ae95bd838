#pragma once

#include <windows.h>

#include <vector>

#include "OPCItem.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "opc.h"

class COPCGroup;

// IOPCSyncIO of a group: an aggregated part. Several device items go to the
// interaction component in one bulk call when it offers IvkBulkInteraction;
// otherwise, or when the bulk call is refused, item by item.
class COPCSyncIOImpl : public com::Object<IOPCSyncIO> {
public:
    explicit COPCSyncIOImpl(COPCGroup* group) : group_(group) {}

    STDMETHODIMP Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                      OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    STDMETHODIMP Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       HRESULT** ppErrors) override;

private:
    // The items of the handles, all known and bound to one component that answers
    // IvkBulkInteraction; otherwise a failure and the caller goes item by item.
    HRESULT BulkItems(DWORD count, const OPCHANDLE* handles,
                      std::vector<com::ComPtr<COPCItem>>* items,
                      com::ComPtr<IvkBulkInteraction>* bulk);
    HRESULT BulkRead(DWORD count, const OPCHANDLE* handles, OPCITEMSTATE** ppItemValues,
                     HRESULT** ppErrors);
    HRESULT BulkWrite(DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                      HRESULT** ppErrors);

    COPCGroup* const group_;  // the outer object; it owns this part
};
