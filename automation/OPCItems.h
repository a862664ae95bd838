// OPCItems.h - COPCItems, the OPCItems collection of one group: defaults for new items, the
// items in creation order, their ServerHandles and the item management calls.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "ScriptDispatch.h"
#include "com/Dispatch.h"
#include "com/ErrorInfo.h"
#include "com/HandleRegistry.h"
#include "com/Object.h"
#include "opc.h"
#include "opcautomation.h"

namespace vkauto {

class COPCGroupImpl;
class COPCItemImpl;

// The items a client named by ServerHandle, as the OPC server knows them. Unknown handles get
// OPC_E_INVALIDHANDLE in `errors` and are not passed on.
struct ResolvedItems {
    std::vector<HRESULT> errors;    // one per client entry
    std::vector<size_t> positions;  // the client entry of each server handle below
    std::vector<OPCHANDLE> serverHandles;
    std::vector<com::ComPtr<COPCItemImpl>> items;

    // Puts the server's per-item errors into `errors`; S_FALSE when any entry failed.
    HRESULT Merge(const HRESULT* serverErrors);
    HRESULT Result() const;
};

class COPCItems : public com::Object<ScriptDual<OPCItems>, com::SupportErrorInfo<OPCItems>> {
public:
    explicit COPCItems(COPCGroupImpl* group);

    STDMETHODIMP get_Parent(IOPCGroup** ppParent) override;
    STDMETHODIMP get_DefaultRequestedDataType(SHORT* value) override;
    STDMETHODIMP put_DefaultRequestedDataType(SHORT value) override;
    STDMETHODIMP get_DefaultAccessPath(BSTR* value) override;
    STDMETHODIMP put_DefaultAccessPath(BSTR value) override;
    STDMETHODIMP get_DefaultIsActive(VARIANT_BOOL* value) override;
    STDMETHODIMP put_DefaultIsActive(VARIANT_BOOL value) override;
    STDMETHODIMP get_Count(LONG* Count) override;
    STDMETHODIMP get__NewEnum(IUnknown** ppUnk) override;
    STDMETHODIMP Item(VARIANT ItemSpecifier, OPCItem** ppItem) override;
    STDMETHODIMP GetOPCItem(LONG ServerHandle, OPCItem** ppItem) override;
    STDMETHODIMP AddItem(BSTR ItemID, LONG ClientHandle, OPCItem** ppItem) override;
    STDMETHODIMP AddItems(LONG NumItems, SAFEARRAY** ItemIDs, SAFEARRAY** ClientHandles,
                          SAFEARRAY** ServerHandles, SAFEARRAY** Errors, VARIANT RequestedDataTypes,
                          VARIANT AccessPaths) override;
    STDMETHODIMP Remove(LONG NumItems, SAFEARRAY** ServerHandles, SAFEARRAY** Errors) override;
    STDMETHODIMP Validate(LONG NumItems, SAFEARRAY** ItemIDs, SAFEARRAY** Errors,
                          VARIANT RequestedDataTypes, VARIANT AccessPaths) override;
    STDMETHODIMP SetActive(LONG NumItems, SAFEARRAY** ServerHandles, VARIANT_BOOL ActiveState,
                           SAFEARRAY** Errors) override;
    STDMETHODIMP SetClientHandles(LONG NumItems, SAFEARRAY** ServerHandles,
                                  SAFEARRAY** ClientHandles, SAFEARRAY** Errors) override;
    STDMETHODIMP SetDataTypes(LONG NumItems, SAFEARRAY** ServerHandles,
                              SAFEARRAY** RequestedDataTypes, SAFEARRAY** Errors) override;

    // The live item with this ServerHandle, or nullptr.
    com::ComPtr<COPCItemImpl> Find(DWORD serverHandle) const;
    HRESULT Resolve(const std::vector<LONG>& serverHandles, ResolvedItems* out) const;
    std::vector<com::ComPtr<COPCItemImpl>> All() const { return items_; }
    // The group leaves its server: the items are removed there in one call and forgotten.
    void RemoveAllFromServer();
    void Detach();

private:
    struct Request {
        std::wstring itemId;
        std::wstring accessPath;
        VARTYPE requestedType;
        LONG clientHandle;
    };
    // Fills requests' types and paths from the optional arrays or the defaults.
    HRESULT ReadOptions(LONG count, const VARIANT& types, const VARIANT& paths,
                        std::vector<Request>* requests) const;
    // One AddItems call; `made` gets an item (or nullptr) and `errors` a result per request.
    HRESULT AddToServer(const std::vector<Request>& requests,
                        std::vector<com::ComPtr<COPCItemImpl>>* made, std::vector<HRESULT>* errors);
    void Forget(const com::ComPtr<COPCItemImpl>& item);

    COPCGroupImpl* group_;  // not counted; cleared by Detach
    VARTYPE defaultType_ = VT_EMPTY;
    std::wstring defaultAccessPath_;
    bool defaultActive_ = true;
    std::vector<com::ComPtr<COPCItemImpl>> items_;
    com::HandleRegistry<com::ComPtr<COPCItemImpl>> handles_;
};

}  // namespace vkauto
