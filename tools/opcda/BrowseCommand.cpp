// opcda browse [--flat] [--filter F] [--progid P] [--node HOST]: the server's
// address space, as a tree of branches and leaves or as flat item IDs.
#include <cstdio>

#include "Commands.h"
#include "ItemGroup.h"
#include "ServerConnection.h"
#include "com/ComPtr.h"

namespace {

// A server that reports branches without end must not keep us going for ever.
constexpr int kMaxDepth = 32;

std::vector<std::wstring> Browse(IOPCBrowseServerAddressSpace* browse, OPCBROWSETYPE type,
                                 const std::wstring& filter, HRESULT* result) {
    std::vector<std::wstring> names;
    com::ComPtr<IEnumString> strings;
    *result = browse->BrowseOPCItemIDs(type, filter.c_str(), VT_EMPTY, 0, strings.put());
    if (FAILED(*result) || !strings) return names;
    for (;;) {
        LPOLESTR text = nullptr;
        ULONG fetched = 0;
        if (strings->Next(1, &text, &fetched) != S_OK || fetched != 1) break;
        names.push_back(text ? text : L"");
        CoTaskMemFree(text);
    }
    return names;
}

bool PrintTree(IOPCServer* server, IOPCBrowseServerAddressSpace* browse, const std::wstring& filter,
               int depth) {
    const std::wstring indent(static_cast<size_t>(depth) * 2, L' ');
    HRESULT hr = S_OK;
    for (const std::wstring& branch : Browse(browse, OPC_BRANCH, L"", &hr)) {
        wprintf(L"%ls%ls/\n", indent.c_str(), branch.c_str());
        if (depth + 1 >= kMaxDepth) {
            fwprintf(stderr, L"opcda browse: deeper than %d levels below %ls, not followed\n",
                     kMaxDepth, branch.c_str());
            continue;
        }
        hr = browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, branch.c_str());
        if (FAILED(hr)) {
            fwprintf(stderr, L"opcda browse: cannot enter %ls: %ls\n", branch.c_str(),
                     ErrorText(server, hr).c_str());
            return false;
        }
        const bool ok = PrintTree(server, browse, filter, depth + 1);
        hr = browse->ChangeBrowsePosition(OPC_BROWSE_UP, L"");
        if (!ok || FAILED(hr)) return false;
    }
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda browse: BrowseOPCItemIDs(branches) failed: %ls\n",
                 ErrorText(server, hr).c_str());
        return false;
    }
    for (const std::wstring& leaf : Browse(browse, OPC_LEAF, filter, &hr)) {
        LPWSTR itemId = nullptr;
        if (SUCCEEDED(browse->GetItemID(const_cast<LPWSTR>(leaf.c_str()), &itemId)) && itemId &&
            leaf != itemId)
            wprintf(L"%ls%ls  (%ls)\n", indent.c_str(), leaf.c_str(), itemId);
        else
            wprintf(L"%ls%ls\n", indent.c_str(), leaf.c_str());
        CoTaskMemFree(itemId);
    }
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda browse: BrowseOPCItemIDs(leaves) failed: %ls\n",
                 ErrorText(server, hr).c_str());
        return false;
    }
    return true;
}

}  // namespace

bool PrintFlatItemIds(IOPCServer* server, const wchar_t* command) {
    com::ComPtr<IOPCBrowseServerAddressSpace> browse;
    HRESULT hr = server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.put_void());
    if (SUCCEEDED(hr)) {
        const std::vector<std::wstring> ids = Browse(browse.get(), OPC_FLAT, L"", &hr);
        if (SUCCEEDED(hr)) {
            for (const std::wstring& id : ids) wprintf(L"%ls\n", id.c_str());
            return true;
        }
    }
    fwprintf(stderr, L"opcda %ls: browsing the namespace failed: %ls\n", command,
             ErrorText(server, hr).c_str());
    return false;
}

int RunBrowseCommand(const Options& options) {
    const std::wstring progId = ServerProgId(options);
    const std::wstring filter = options.Get(L"filter");
    com::ComPtr<IOPCServer> server;
    if (!ConnectCommandServer(options, &server)) return kExitConnect;
    if (!LoadConfigOption(options, server.get(), L"browse")) return kExitCallFailed;
    com::ComPtr<IOPCBrowseServerAddressSpace> browse;
    HRESULT hr = server.query(&browse);
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda browse: %ls offers no browsing: %ls\n", progId.c_str(),
                 ErrorText(server.get(), hr).c_str());
        return kExitCallFailed;
    }
    OPCNAMESPACETYPE organization = OPC_NS_FLAT;
    hr = browse->QueryOrganization(&organization);
    if (FAILED(hr)) {
        fwprintf(stderr, L"opcda browse: QueryOrganization failed: %ls\n",
                 ErrorText(server.get(), hr).c_str());
        return kExitCallFailed;
    }
    if (options.Has(L"flat") || organization == OPC_NS_FLAT) {
        const std::vector<std::wstring> ids = Browse(browse.get(), OPC_FLAT, filter, &hr);
        if (FAILED(hr)) {
            fwprintf(stderr, L"opcda browse: BrowseOPCItemIDs(flat) failed: %ls\n",
                     ErrorText(server.get(), hr).c_str());
            return kExitCallFailed;
        }
        for (const std::wstring& id : ids) wprintf(L"%ls\n", id.c_str());
        return kExitOk;
    }
    // From the root, whatever position an earlier client left.
    browse->ChangeBrowsePosition(OPC_BROWSE_TO, L"");
    return PrintTree(server.get(), browse.get(), filter, 0) ? kExitOk : kExitCallFailed;
}
