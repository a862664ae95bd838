#include "Server.h"

#include <algorithm>
#include <mutex>

#include "Ids.h"
#include "SimHost.h"
#include "Values.h"
#include "com/Enum.h"
#include "com/Memory.h"
#include "com/Strings.h"
#include "com/Time.h"
#include "com/Version.h"

namespace bussim {
namespace {

constexpr DWORD kFastestRate = 10;
const LCID kLocales[] = {0x409, 0x407};

bool IsSupportedLocale(LCID lcid) {
    return lcid == 0x409 || lcid == 0x407 || lcid == LOCALE_SYSTEM_DEFAULT ||
           lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_NEUTRAL;
}

LONG LocalTimeBias() {
    TIME_ZONE_INFORMATION zone;
    return GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID ? 0 : zone.Bias;
}

// The properties every item has.
struct Property {
    DWORD id;
    const wchar_t* description;
};
const Property kProperties[] = {
    {OPC_PROPERTY_DATATYPE, OPC_PROPERTY_DESC_DATATYPE},
    {OPC_PROPERTY_VALUE, OPC_PROPERTY_DESC_VALUE},
    {OPC_PROPERTY_QUALITY, OPC_PROPERTY_DESC_QUALITY},
    {OPC_PROPERTY_TIMESTAMP, OPC_PROPERTY_DESC_TIMESTAMP},
    {OPC_PROPERTY_ACCESS_RIGHTS, OPC_PROPERTY_DESC_ACCESS_RIGHTS},
    {OPC_PROPERTY_SCAN_RATE, OPC_PROPERTY_DESC_SCAN_RATE},
    {OPC_PROPERTY_DESCRIPTION, OPC_PROPERTY_DESC_DESCRIPTION},
};

VARTYPE PropertyType(DWORD id, const ItemInfo& item) {
    switch (id) {
        case OPC_PROPERTY_DATATYPE: return VT_I2;
        case OPC_PROPERTY_VALUE: return CanonicalType(item.type);
        case OPC_PROPERTY_QUALITY: return VT_I2;
        case OPC_PROPERTY_TIMESTAMP: return VT_DATE;
        case OPC_PROPERTY_ACCESS_RIGHTS: return VT_I4;
        case OPC_PROPERTY_SCAN_RATE: return VT_R4;
        case OPC_PROPERTY_DESCRIPTION: return VT_BSTR;
        default: return VT_EMPTY;
    }
}

bool IsProperty(DWORD id) {
    for (const Property& p : kProperties) {
        if (p.id == id) return true;
    }
    return false;
}

HRESULT FindItemInfo(LPCWSTR szItemID, const ItemInfo** info) {
    RETURN_HR_IF(OPC_E_INVALIDITEMID, !szItemID || !*szItemID);
    *info = SimHost::Get().bus().FindItem(com::WideToUtf8(szItemID));
    return *info ? S_OK : OPC_E_UNKNOWNITEMID;
}

// One property value; reading the value of the channel would take a
// client's response, so the channel's value property is never there.
HRESULT PropertyValue(DWORD id, const ItemInfo& item, VARIANT* out) {
    VariantInit(out);
    switch (id) {
        case OPC_PROPERTY_DATATYPE:
            V_VT(out) = VT_I2;
            V_I2(out) = static_cast<SHORT>(CanonicalType(item.type));
            return S_OK;
        case OPC_PROPERTY_VALUE: {
            if (item.type == ItemType::kBytes) return kChannelNoResponse;
            ItemValue value;
            RETURN_IF_FAILED(StatusToHresult(SimHost::Get().bus().Read(item.id, &value)));
            return ToVariant(value, out);
        }
        case OPC_PROPERTY_QUALITY:
            V_VT(out) = VT_I2;
            V_I2(out) = item.type == ItemType::kBytes ? OPC_QUALITY_BAD : OPC_QUALITY_GOOD;
            return S_OK;
        case OPC_PROPERTY_TIMESTAMP:
            V_VT(out) = VT_DATE;
            V_DATE(out) = com::NowUtcDate();
            return S_OK;
        case OPC_PROPERTY_ACCESS_RIGHTS:
            V_VT(out) = VT_I4;
            V_I4(out) = static_cast<LONG>(AccessRights(item));
            return S_OK;
        case OPC_PROPERTY_SCAN_RATE:
            V_VT(out) = VT_R4;
            V_R4(out) = 10.0f;
            return S_OK;
        case OPC_PROPERTY_DESCRIPTION: {
            std::wstring text = com::Utf8ToWide(item.description);
            V_BSTR(out) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            RETURN_IF_NULL_ALLOC(V_BSTR(out));
            V_VT(out) = VT_BSTR;
            return S_OK;
        }
        default: return OPC_E_INVALID_PID;
    }
}

}  // namespace

HRESULT ErrorText(HRESULT error, std::wstring* text) {
    struct Known {
        HRESULT code;
        const wchar_t* text;
    };
    static const Known kKnown[] = {
        {OPC_E_INVALIDHANDLE, L"The value of the handle is invalid."},
        {OPC_E_BADTYPE,
         L"The server cannot convert the data between the requested data type and the canonical "
         L"data type."},
        {OPC_E_PUBLIC, L"The requested operation cannot be done on a public group."},
        {OPC_E_BADRIGHTS, L"The item's access rights do not allow the operation."},
        {OPC_E_UNKNOWNITEMID, L"The item is no longer available in the server address space."},
        {OPC_E_INVALIDITEMID, L"The item definition does not conform to the server's syntax."},
        {OPC_E_INVALIDFILTER, L"The filter string was not valid."},
        {OPC_E_UNKNOWNPATH, L"The item's access path is not known to the server."},
        {OPC_E_RANGE, L"The value was out of range."},
        {OPC_E_DUPLICATENAME, L"Duplicate name not allowed."},
        {OPC_S_UNSUPPORTEDRATE,
         L"The server does not support the requested data rate but will use the closest available "
         L"rate."},
        {OPC_S_CLAMP, L"A value passed to write was accepted but the output was clamped."},
        {OPC_S_INUSE, L"The operation cannot be performed because the object is being referenced."},
        {OPC_E_INVALIDCONFIGFILE, L"The server's configuration file is an invalid format."},
        {OPC_E_NOTFOUND, L"The requested object (e.g. a public group) was not found."},
        {kChannelNotReady, L"The slave has not answered the request on its parameter channel yet."},
        {kChannelNoResponse,
         L"There is no response to fetch: no request was written since the last one was read."},
        {kChannelClosed,
         L"The parameter channel is closed: MA_ProfileIdentNumber has not been set to 0x3A00."},
        {kRequestRefused,
         L"The slave refused the request: it exceeds the drive's block length or parameter count."},
    };
    for (const Known& known : kKnown) {
        if (known.code == error) {
            *text = known.text;
            return S_OK;
        }
    }
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0) return E_INVALIDARG;
    std::wstring message(buffer, length);
    LocalFree(buffer);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    *text = message;
    return S_OK;
}

namespace {
// The shutdown points of the live server objects, for the requests that go to all of them. A
// server leaves the list in FinalRelease, before its point goes.
struct LiveServers {
    std::mutex mutex;
    std::vector<com::ConnectionPoint*> points;
};
LiveServers& Live() {
    static LiveServers live;
    return live;
}
}  // namespace

COPCBusServer::COPCBusServer(Face face) : face_(face), groups_(std::make_shared<GroupTable>()) {
    if (face_ != Face::kDa20) return;
    shutdown_ = &AddConnectionPoint(__uuidof(IOPCShutdown));
    std::lock_guard<std::mutex> lock(Live().mutex);
    Live().points.push_back(shutdown_);
}

void* COPCBusServer::FindInterface(REFIID riid) noexcept {
    if (face_ == Face::kDa10 &&
        (riid == __uuidof(IOPCCommon) || riid == __uuidof(IOPCBrowseServerAddressSpace) ||
         riid == __uuidof(IOPCItemProperties)))
        return nullptr;
    return Base::FindInterface(riid);
}

void COPCBusServer::FinalRelease() {
    // Groups the client did not remove go with the server object.
    groups_->Close();
    if (!shutdown_) return;
    {
        std::lock_guard<std::mutex> lock(Live().mutex);
        auto& points = Live().points;
        points.erase(std::remove(points.begin(), points.end(), shutdown_), points.end());
    }
    shutdown_->DisconnectAll();
}

void RequestShutdownOfAll(const std::string& reason) {
    // The sinks are taken under the list's lock and called after it is left.
    std::vector<com::ComPtr<IOPCShutdown>> sinks;
    {
        std::lock_guard<std::mutex> lock(Live().mutex);
        for (com::ConnectionPoint* point : Live().points)
            for (auto& sink : point->Sinks<IOPCShutdown>()) sinks.push_back(std::move(sink));
    }
    const std::wstring text = com::Utf8ToWide(reason);
    for (auto& sink : sinks) sink->ShutdownRequest(text.c_str());
}

// ------------------------------------------------------------------ IOPCServer

STDMETHODIMP COPCBusServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                     OPCHANDLE hClientGroup, LONG* pTimeBias,
                                     FLOAT* pPercentDeadband, DWORD dwLCID,
                                     OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                     REFIID riid, LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !phServerGroup || !pRevisedUpdateRate || !ppUnk);
        *ppUnk = nullptr;
        *phServerGroup = 0;
        *pRevisedUpdateRate = 0;
        RETURN_HR_IF(E_INVALIDARG,
                     pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100));
        GroupState state;
        state.name = szName && *szName ? std::wstring(szName) : groups_->UniqueName();
        state.active = bActive ? TRUE : FALSE;
        state.updateRate =
            dwRequestedUpdateRate < kFastestRate ? kFastestRate : dwRequestedUpdateRate;
        state.hClientGroup = hClientGroup;
        state.timeBias = pTimeBias ? *pTimeBias : LocalTimeBias();
        state.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
        state.lcid = dwLCID;
        com::ComPtr<CSimGroup> group;
        RETURN_IF_FAILED(com::MakeObject(&group, groups_, state, face_));
        OPCHANDLE handle = 0;
        RETURN_IF_FAILED(groups_->Add(group, state.name, &handle));
        group->SetServerHandle(handle);
        HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        if (FAILED(hr)) {
            groups_->Remove(handle, nullptr);
            return hr;
        }
        *phServerGroup = handle;
        *pRevisedUpdateRate = state.updateRate;
        return state.updateRate != dwRequestedUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
    });
}

STDMETHODIMP COPCBusServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppString);
        *ppString = nullptr;
        RETURN_HR_IF(E_INVALIDARG, !IsSupportedLocale(dwLocale));
        std::wstring text;
        RETURN_IF_FAILED(ErrorText(dwError, &text));
        return com::CoTaskMemString(text, ppString);
    });
}

STDMETHODIMP COPCBusServer::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppUnk || !szName);
        *ppUnk = nullptr;
        com::ComPtr<CSimGroup> group;
        RETURN_HR_IF(E_INVALIDARG, !groups_->FindByName(szName, &group));
        return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    });
}

STDMETHODIMP COPCBusServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppServerStatus);
        *ppServerStatus = nullptr;
        SimHost& host = SimHost::Get();
        com::CoTaskMem<OPCSERVERSTATUS> status;
        RETURN_HR_IF(E_OUTOFMEMORY, !status.alloc(1));
        status[0].ftStartTime = host.startTime();
        CoFileTimeNow(&status[0].ftCurrentTime);
        status[0].ftLastUpdateTime = status[0].ftStartTime;
        status[0].dwServerState = host.configured() ? OPC_STATUS_RUNNING : OPC_STATUS_NOCONFIG;
        status[0].dwGroupCount = static_cast<DWORD>(groups_->Count());
        status[0].dwBandWidth = 0xFFFFFFFF;
        com::ModuleVersion version;
        if (SUCCEEDED(com::ReadModuleVersion(L"", &version))) {
            status[0].wMajorVersion = version.version.major;
            status[0].wMinorVersion = version.version.minor;
            status[0].wBuildNumber = version.version.build;
        }
        std::wstring vendor = std::wstring(kVendorName) + L" Orvane Bus Simulator";
        if (!host.configured()) vendor += L" (topology: " + host.loadError() + L")";
        RETURN_IF_FAILED(com::CoTaskMemString(vendor, &status[0].szVendorInfo));
        *ppServerStatus = status.release();
        return S_OK;
    });
}

STDMETHODIMP COPCBusServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    return com::ComBoundary([&]() -> HRESULT {
        com::ComPtr<CSimGroup> group;
        RETURN_HR_IF(E_FAIL, !groups_->Remove(hServerGroup, &group));
        // The group goes from the server now; it lives on while the client holds it.
        ULONG remaining = group.detach()->Release();
        return remaining > 0 && !bForce ? OPC_S_INUSE : S_OK;
    });
}

STDMETHODIMP COPCBusServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                  LPUNKNOWN* ppUnk) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppUnk);
        *ppUnk = nullptr;
        RETURN_HR_IF(E_INVALIDARG,
                     dwScope < OPC_ENUM_PRIVATE_CONNECTIONS || dwScope > OPC_ENUM_ALL);
        // The simulator has no public groups.
        bool privateGroups = dwScope != OPC_ENUM_PUBLIC_CONNECTIONS && dwScope != OPC_ENUM_PUBLIC;
        std::vector<com::ComPtr<CSimGroup>> groups;
        if (privateGroups) groups = groups_->All();
        HRESULT hr;
        if (riid == IID_IEnumString) {
            std::vector<std::wstring> names;
            for (const auto& group : groups) names.push_back(group->Name());
            hr = com::CreateEnumString(std::move(names), reinterpret_cast<IEnumString**>(ppUnk));
        } else if (riid == IID_IEnumUnknown) {
            std::vector<com::ComPtr<IUnknown>> unknowns;
            for (const auto& group : groups) {
                com::ComPtr<IUnknown> unknown;
                RETURN_IF_FAILED(
                    group->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.put())));
                unknowns.push_back(unknown);
            }
            hr = com::CreateEnumUnknown(std::move(unknowns),
                                        reinterpret_cast<IEnumUnknown**>(ppUnk));
        } else {
            return E_NOINTERFACE;
        }
        RETURN_IF_FAILED(hr);
        return groups.empty() ? S_FALSE : S_OK;
    });
}

// ------------------------------------------------------------------ IOPCCommon

STDMETHODIMP COPCBusServer::SetLocaleID(LCID dwLcid) {
    if (!IsSupportedLocale(dwLcid)) return E_INVALIDARG;
    com::CsLock guard(lock_);
    lcid_ = dwLcid;
    return S_OK;
}

STDMETHODIMP COPCBusServer::GetLocaleID(LCID* pdwLcid) {
    if (!pdwLcid) return E_INVALIDARG;
    com::CsLock guard(lock_);
    *pdwLcid = lcid_;
    return S_OK;
}

STDMETHODIMP COPCBusServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !pdwCount || !pdwLcid);
        *pdwCount = 0;
        *pdwLcid = nullptr;
        com::CoTaskMem<LCID> locales;
        RETURN_HR_IF(E_OUTOFMEMORY, !locales.alloc(std::size(kLocales)));
        for (size_t i = 0; i < std::size(kLocales); ++i) locales[i] = kLocales[i];
        *pdwCount = static_cast<DWORD>(std::size(kLocales));
        *pdwLcid = locales.release();
        return S_OK;
    });
}

STDMETHODIMP COPCBusServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    LCID lcid;
    {
        com::CsLock guard(lock_);
        lcid = lcid_;
    }
    return GetErrorString(dwError, lcid, ppString);
}

STDMETHODIMP COPCBusServer::SetClientName(LPCWSTR szName) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !szName);
        com::CsLock guard(lock_);
        clientName_ = szName;
        return S_OK;
    });
}

// ------------------------------------------------- IOPCBrowseServerAddressSpace

STDMETHODIMP COPCBusServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
    if (!pNameSpaceType) return E_INVALIDARG;
    *pNameSpaceType = OPC_NS_HIERARCHIAL;
    return S_OK;
}

STDMETHODIMP COPCBusServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                 LPCWSTR szString) {
    return com::ComBoundary([&]() -> HRESULT {
        const AddressSpace& space = SimHost::Get().addressSpace();
        std::string name = szString ? com::WideToUtf8(szString) : std::string();
        com::CsLock guard(lock_);
        switch (dwBrowseDirection) {
            case OPC_BROWSE_UP:
                RETURN_HR_IF(E_FAIL, position_.empty());
                position_.pop_back();
                return S_OK;
            case OPC_BROWSE_DOWN: {
                RETURN_HR_IF(E_INVALIDARG, name.empty());
                AddressSpace::Position next = position_;
                next.push_back(name);
                RETURN_HR_IF(E_INVALIDARG, !space.IsBranch(next));
                position_ = next;
                return S_OK;
            }
            case OPC_BROWSE_TO: {
                AddressSpace::Position next = AddressSpace::Split(name);
                RETURN_HR_IF(E_INVALIDARG, !space.IsBranch(next));
                position_ = next;
                return S_OK;
            }
            default: return E_INVALIDARG;
        }
    });
}

STDMETHODIMP COPCBusServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                             LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                             DWORD dwAccessRightsFilter,
                                             LPENUMSTRING* ppIEnumString) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppIEnumString);
        *ppIEnumString = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwBrowseFilterType != OPC_BRANCH &&
                                       dwBrowseFilterType != OPC_LEAF &&
                                       dwBrowseFilterType != OPC_FLAT);
        RETURN_HR_IF(E_INVALIDARG, dwAccessRightsFilter & ~DWORD(OPC_READABLE | OPC_WRITEABLE));
        const std::string filter =
            szFilterCriteria ? com::WideToUtf8(szFilterCriteria) : std::string();
        AddressSpace::Position position;
        {
            com::CsLock guard(lock_);
            position = position_;
        }
        // The data-type filter selects by canonical type: nearly every item
        // converts to nearly every type, which would make the filter useless.
        auto accept = [&](const ItemInfo& item) {
            if (vtDataTypeFilter != VT_EMPTY && CanonicalType(item.type) != vtDataTypeFilter)
                return false;
            return (AccessRights(item) & dwAccessRightsFilter) == dwAccessRightsFilter;
        };
        const AddressSpace& space = SimHost::Get().addressSpace();
        std::vector<std::string> found =
            dwBrowseFilterType == OPC_BRANCH ? space.Branches(position, filter)
            : dwBrowseFilterType == OPC_LEAF ? space.Leaves(position, filter, accept)
                                             : space.Flat(position, filter, accept);
        std::vector<std::wstring> names;
        for (const std::string& name : found) names.push_back(com::Utf8ToWide(name));
        RETURN_IF_FAILED(com::CreateEnumString(std::move(names), ppIEnumString));
        return found.empty() ? S_FALSE : S_OK;
    });
}

STDMETHODIMP COPCBusServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !szItemID);
        *szItemID = nullptr;
        AddressSpace::Position position;
        {
            com::CsLock guard(lock_);
            position = position_;
        }
        std::optional<std::string> id = SimHost::Get().addressSpace().ItemId(
            position, szItemDataID ? com::WideToUtf8(szItemDataID) : "");
        RETURN_HR_IF(E_INVALIDARG, !id);
        return com::CoTaskMemString(com::Utf8ToWide(*id), szItemID);
    });
}

STDMETHODIMP COPCBusServer::BrowseAccessPaths(LPCWSTR /*szItemID*/, LPENUMSTRING* ppIEnumString) {
    if (ppIEnumString) *ppIEnumString = nullptr;
    // Items of the simulator have no access paths.
    return E_NOTIMPL;
}

// ------------------------------------------------------------ IOPCItemProperties

STDMETHODIMP COPCBusServer::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                     DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                     VARTYPE** ppvtDataTypes) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG,
                     !pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes);
        *pdwCount = 0;
        *ppPropertyIDs = nullptr;
        *ppDescriptions = nullptr;
        *ppvtDataTypes = nullptr;
        const ItemInfo* info = nullptr;
        RETURN_IF_FAILED(FindItemInfo(szItemID, &info));
        const size_t n = std::size(kProperties);
        com::CoTaskMem<DWORD> ids;
        com::CoTaskMemStrings descriptions;
        com::CoTaskMem<VARTYPE> types;
        RETURN_HR_IF(E_OUTOFMEMORY, !ids.alloc(n) || !descriptions.alloc(n) || !types.alloc(n));
        for (size_t i = 0; i < n; ++i) {
            RETURN_IF_FAILED(descriptions.Set(i, kProperties[i].description));
            ids[i] = kProperties[i].id;
            types[i] = PropertyType(kProperties[i].id, *info);
        }
        *pdwCount = static_cast<DWORD>(n);
        *ppPropertyIDs = ids.release();
        *ppDescriptions = descriptions.release();
        *ppvtDataTypes = types.release();
        return S_OK;
    });
}

STDMETHODIMP COPCBusServer::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                              VARIANT** ppvData, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppvData || !ppErrors);
        *ppvData = nullptr;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !pdwPropertyIDs);
        const ItemInfo* info = nullptr;
        RETURN_IF_FAILED(FindItemInfo(szItemID, &info));
        com::CoTaskMem<VARIANT> values;
        com::CoTaskMem<HRESULT> errors;
        RETURN_HR_IF(E_OUTOFMEMORY, !values.alloc(dwCount) || !errors.alloc(dwCount));
        HRESULT result = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            errors[i] = PropertyValue(pdwPropertyIDs[i], *info, &values[i]);
            if (errors[i] != S_OK) result = S_FALSE;
        }
        *ppvData = values.release();
        *ppErrors = errors.release();
        return result;
    });
}

STDMETHODIMP COPCBusServer::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                          LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, !ppszNewItemIDs || !ppErrors);
        *ppszNewItemIDs = nullptr;
        *ppErrors = nullptr;
        RETURN_HR_IF(E_INVALIDARG, dwCount == 0 || !pdwPropertyIDs);
        const ItemInfo* info = nullptr;
        RETURN_IF_FAILED(FindItemInfo(szItemID, &info));
        com::CoTaskMem<LPWSTR> ids;
        com::CoTaskMem<HRESULT> errors;
        RETURN_HR_IF(E_OUTOFMEMORY, !ids.alloc(dwCount) || !errors.alloc(dwCount));
        // No property of the simulator's items is an item of its own; the
        // standard properties never are.
        for (DWORD i = 0; i < dwCount; ++i)
            errors[i] = IsProperty(pdwPropertyIDs[i]) && pdwPropertyIDs[i] > OPC_PROPERTY_SCAN_RATE
                            ? E_FAIL
                            : OPC_E_INVALID_PID;
        *ppszNewItemIDs = ids.release();
        *ppErrors = errors.release();
        return S_FALSE;
    });
}

}  // namespace bussim
