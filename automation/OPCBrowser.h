// OPCBrowser.h - COPCBrowserImpl, the OPCBrowser object over a server's
// IOPCBrowseServerAddressSpace: stored filters, the names of the last ShowBranches or ShowLeafs,
// and the browse position, which the server keeps. It points back at the server object weakly;
// the server's Disconnect (or end) detaches it, so that a browser a client still holds keeps no
// OPC server alive.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "ScriptDispatch.h"
#include "com/Dispatch.h"
#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "opc.h"
#include "opcautomation.h"

namespace vkauto {

class COPCAutoServer;

class COPCBrowserImpl
    : public com::Object<ScriptDual<OPCBrowser>, com::SupportErrorInfo<OPCBrowser>> {
public:
    COPCBrowserImpl(COPCAutoServer* server, IOPCBrowseServerAddressSpace* browse);
    // The server object disconnects or goes: every call fails with E_FAIL from now on.
    void Detach();

    STDMETHODIMP get_Organization(LONG* Organization) override;
    STDMETHODIMP get_Filter(BSTR* Filter) override;
    STDMETHODIMP put_Filter(BSTR Filter) override;
    STDMETHODIMP get_DataType(SHORT* DataType) override;
    STDMETHODIMP put_DataType(SHORT DataType) override;
    STDMETHODIMP get_AccessRights(LONG* AccessRights) override;
    STDMETHODIMP put_AccessRights(LONG AccessRights) override;
    STDMETHODIMP get_CurrentPosition(BSTR* CurrentPosition) override;
    STDMETHODIMP get_Count(LONG* Count) override;
    STDMETHODIMP get__NewEnum(IUnknown** ppUnk) override;
    STDMETHODIMP Item(VARIANT ItemSpecifier, BSTR* Item) override;
    STDMETHODIMP ShowBranches() override;
    STDMETHODIMP ShowLeafs(VARIANT Flat) override;
    STDMETHODIMP MoveUp() override;
    STDMETHODIMP MoveToRoot() override;
    STDMETHODIMP MoveDown(BSTR Branch) override;
    STDMETHODIMP MoveTo(SAFEARRAY** Branches) override;
    STDMETHODIMP GetItemID(BSTR Leaf, BSTR* ItemID) override;
    STDMETHODIMP GetAccessPaths(BSTR ItemID, VARIANT* AccessPaths) override;

protected:
    void FinalRelease() override;

private:
    HRESULT Fill(OPCBROWSETYPE type);

    COPCAutoServer* server_;  // not counted; cleared by Detach
    com::ComPtr<IOPCBrowseServerAddressSpace> browse_;
    std::wstring filter_;
    VARTYPE dataType_ = VT_EMPTY;
    DWORD accessRights_ = 0;
    std::vector<std::wstring> names_;  // of the last ShowBranches or ShowLeafs
};

}  // namespace vkauto
