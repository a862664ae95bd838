#include "Records.h"

#include <cwchar>

#include "com/Result.h"

namespace vkopc {
namespace {

// Appends a line "<text>: <hr>" the way the release diagnostics read.
void AppendFailure(std::wstring* text, const wchar_t* what, LONG value) {
    wchar_t number[16];
    swprintf(number, sizeof(number) / sizeof(number[0]), L"%X\n", static_cast<unsigned>(value));
    text->append(what).append(number);
}

// Release() hands back a reference count; a negative one means the proxy
// reported a failure.
template <class T>
void ReleaseChecked(com::ComPtr<T>& pointer, const wchar_t* what, std::wstring* text) {
    if (T* raw = pointer.detach()) {
        const LONG result = static_cast<LONG>(raw->Release());
        if (result < 0) AppendFailure(text, what, result);
    }
}

}  // namespace

CGrpInfo::~CGrpInfo() { Release(); }

std::wstring CGrpInfo::Release() {
    std::wstring text;
    ReleaseChecked(itemMgt, L"IOPCItemMgt::Release() failed: ", &text);
    ReleaseChecked(groupStateMgt, L"IOPCGroupStateMgt::Release() failed: ", &text);
    ReleaseChecked(syncIO, L"IOPCSyncIO::Release() failed: ", &text);
    ReleaseChecked(asyncIO, L"IOPCAsyncIO::Release() failed: ", &text);
    ReleaseChecked(asyncIO2, L"IOPCAsyncIO2::Release() failed: ", &text);
    ReleaseChecked(publicGroupStateMgt, L"IOPCPublicGroupStateMgt::Release() failed: ", &text);
    ReleaseChecked(dataObject, L"IDataObject::Release() failed: ", &text);
    if (advised && connectionPoint) {
        const HRESULT hr = connectionPoint->Unadvise(adviseCookie);
        if (FAILED(hr)) AppendFailure(&text, L"Can not unadvise callback interface: ", hr);
    }
    advised = false;
    adviseCookie = 0;
    ReleaseChecked(connectionPoint, L"IConnectionPoint::Release() failed: ", &text);
    ReleaseChecked(connectionPointContainer, L"IConnectionPointContainer::Release() failed: ",
                   &text);
    return text;
}

HRESULT CGrpInfo::GetSyncIO(com::ComPtr<IOPCSyncIO>* out) {
    if (!syncIO) RETURN_IF_FAILED(itemMgt.query(&syncIO));
    *out = syncIO;
    return S_OK;
}

HRESULT CGrpInfo::PrepareAsync(IUnknown* sink, com::ComPtr<IOPCAsyncIO2>* out) {
    if (!asyncIO2) RETURN_IF_FAILED(itemMgt.query(&asyncIO2));
    if (!connectionPointContainer) RETURN_IF_FAILED(itemMgt.query(&connectionPointContainer));
    if (!connectionPoint) {
        RETURN_IF_FAILED(connectionPointContainer->FindConnectionPoint(__uuidof(IOPCDataCallback),
                                                                       connectionPoint.put()));
        if (!connectionPoint) return E_FAIL;
    }
    if (!advised) {
        // Marked before the call: a completion may re-enter while Advise runs.
        advised = true;
        com::ComPtr<IConnectionPoint> point = connectionPoint;
        DWORD cookie = 0;
        const HRESULT hr = point->Advise(sink, &cookie);
        if (FAILED(hr)) {
            advised = false;
            return hr;
        }
        adviseCookie = cookie;
    }
    *out = asyncIO2;
    return S_OK;
}

CItemInfo* CGrpInfo::FindItem(const std::wstring& itemId) const {
    for (const auto& entry : items) {
        if (entry.second->itemId == itemId) return entry.second.get();
    }
    return nullptr;
}

void CGrpInfo::Abandon() {
    adviseAgain = adviseAgain || advised;
    advised = false;
    adviseCookie = 0;
    Release();
}

CSvrInfo::~CSvrInfo() { Release(); }

void CSvrInfo::Abandon(HRESULT why, ULONGLONG now) {
    lost = true;
    lostResult = why;
    lastAttempt = now;
    for (const auto& entry : groups) entry.second->Abandon();
    Release();
}

std::wstring CSvrInfo::Release() {
    std::wstring text;
    ReleaseChecked(server, L"IOPCServer::Release() failed: ", &text);
    ReleaseChecked(common, L"IOPCCommon::Release() failed: ", &text);
    ReleaseChecked(publicGroups, L"IOPCServerPublicGroups::Release() failed: ", &text);
    ReleaseChecked(browse, L"IOPCBrowseServerAddressSpace::Release() failed: ", &text);
    ReleaseChecked(persistFile, L"IPersistFile::Release() failed: ", &text);
    ReleaseChecked(connectionPointContainer, L"IConnectionPointContainer::Release() failed: ",
                   &text);
    ReleaseChecked(itemProperties, L"IOPCItemProperties::Release() failed: ", &text);
    return text;
}

}  // namespace vkopc
