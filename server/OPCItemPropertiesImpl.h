#pragma once

#include <windows.h>

#include <string>

#include "OPCItem.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "opc.h"
#include "vkitemprops.h"
#include "vkmodel.h"

class OPCOrvane;

// IOPCItemProperties of a server object: a tear-off, one per query. The parameter
// nodes answer; what only the drive knows comes through the interaction component.
class COPCItemPropertiesImpl : public com::TearOff<OPCOrvane, IOPCItemProperties> {
public:
    explicit COPCItemPropertiesImpl(OPCOrvane* owner);

    STDMETHODIMP QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                          LPWSTR** ppDescriptions,
                                          VARTYPE** ppvtDataTypes) override;
    STDMETHODIMP GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                   VARIANT** ppvData, HRESULT** ppErrors) override;
    STDMETHODIMP LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                               LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;

private:
    // The parameter of an item ID. An ID that the model does not hold yet is resolved
    // as ValidateItems does, through `temporary`, which the caller discards afterwards.
    class Lookup;

    const com::ComPtr<VKModelObject> root_;
    NameSpaceGate gate_{CLSID_OrvaneInteraction};
};
