// OPCBrowser.h - COPCBrowserImpl, the OPCBrowser object over a server's
// IOPCBrowseServerAddressSpace: stored filters, the names of the last ShowBranches or ShowLeafs,
// and the browse position, which the server keeps.
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

class COPCBrowserImpl
    : public com::Object<ScriptDual<OPCBrowser>, com::SupportErrorInfo<OPCBrowser>> {
public:
    explicit COPCBrowserImpl(IOPCBrowseServerAddressSpace* browse);

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

private:
    HRESULT Fill(OPCBROWSETYPE type);

    const com::ComPtr<IOPCBrowseServerAddressSpace> browse_;
    std::wstring filter_;
    VARTYPE dataType_ = VT_EMPTY;
    DWORD accessRights_ = 0;
    std::vector<std::wstring> names_;  // of the last ShowBranches or ShowLeafs
};

}  // namespace vkauto
