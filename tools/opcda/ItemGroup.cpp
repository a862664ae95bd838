#include "ItemGroup.h"

#include "ServerConnection.h"
#include "com/Memory.h"

ItemGroup::~ItemGroup() {
    if (!hGroup_) return;
    syncIO.reset();
    itemMgt.reset();
    server_->RemoveGroup(hGroup_, TRUE);
}

std::vector<std::wstring> ItemGroup::ids() const {
    std::vector<std::wstring> result;
    for (const GroupItem& item : items) result.push_back(item.id);
    return result;
}

HRESULT ItemGroup::Open(const std::vector<std::wstring>& ids, std::wstring* message,
                        VARTYPE requestedType, BOOL active, DWORD rate, FLOAT deadband) {
    LONG timeBias = 0;
    DWORD revisedRate = 0;
    HRESULT hr =
        server_->AddGroup(L"opcda", active, rate, 1, &timeBias, &deadband, LOCALE_SYSTEM_DEFAULT,
                          &hGroup_, &revisedRate, __uuidof(IOPCItemMgt), itemMgt.put_unknown());
    if (FAILED(hr)) {
        *message = L"AddGroup failed: " + ErrorText(server_.get(), hr);
        return hr;
    }
    hr = itemMgt.query(&syncIO);
    if (FAILED(hr)) {
        *message = L"the group has no IOPCSyncIO: " + ErrorText(server_.get(), hr);
        return hr;
    }
    if (ids.empty()) return S_OK;
    std::vector<OPCITEMDEF> defs(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        defs[i] = OPCITEMDEF{};
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
        defs[i].vtRequestedDataType = requestedType;
    }
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;
    hr = itemMgt->AddItems(static_cast<DWORD>(defs.size()), defs.data(), results.put(),
                           errors.put());
    if (FAILED(hr) || !results || !errors) {
        *message = L"AddItems failed: " + ErrorText(server_.get(), FAILED(hr) ? hr : E_POINTER);
        return FAILED(hr) ? hr : E_POINTER;
    }
    items.resize(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        items[i].id = ids[i];
        items[i].error = errors[i];
        items[i].hServer = results[i].hServer;
        items[i].canonicalType = results[i].vtCanonicalDataType;
        items[i].accessRights = results[i].dwAccessRights;
        CoTaskMemFree(results[i].pBlob);
    }
    return S_OK;
}

std::wstring ErrorText(IOPCServer* server, HRESULT error) {
    LPWSTR text = nullptr;
    if (server && SUCCEEDED(server->GetErrorString(error, LOCALE_SYSTEM_DEFAULT, &text)) && text &&
        *text) {
        std::wstring result = DescribeHr(error);
        // The system's text, when it has one, is replaced by the server's.
        const size_t paren = result.find(L" (");
        if (paren != std::wstring::npos) result.resize(paren);
        std::wstring serverText(text);
        while (!serverText.empty() && (serverText.back() == L'\n' || serverText.back() == L'\r'))
            serverText.pop_back();
        CoTaskMemFree(text);
        return result + L" (" + serverText + L")";
    }
    CoTaskMemFree(text);
    return DescribeHr(error);
}
