#include "OPCAutoServer.h"

#include <objbase.h>

#include <algorithm>

#include "com/Bstr.h"
#include "com/Memory.h"
#include "com/SafeArray.h"
#include "com/ScopeExit.h"
#include "com/Time.h"
#include "com/Variant.h"
#include "ClientArrays.h"
#include "OPCBrowser.h"
#include "OPCGroups.h"
#include "OPCItem.h"
#include "ValueConversion.h"

namespace vkauto {

// The IOPCShutdown sink given to the OPC server. It is an object of its own because the server
// holds it: pointing back at COPCAutoServer weakly keeps the client's release of the wrapper
// from waiting on the OPC server. Both live in the wrapper's single-threaded apartment, so the
// back pointer is cleared (Detach) before the wrapper goes.
class CShutdownSink : public com::Object<IOPCShutdown> {
public:
    explicit CShutdownSink(COPCAutoServer* owner) : owner_(owner) {}
    void Detach() noexcept { owner_ = nullptr; }

    STDMETHODIMP ShutdownRequest(LPCWSTR szReason) override {
        return com::ComBoundary([&] {
            if (!owner_) return S_OK;
            // A handler may release the wrapper's last reference while it runs.
            com::ComPtr<COPCAutoServer> keep(owner_);
            owner_->OnShutdownRequest(szReason ? szReason : L"");
            return S_OK;
        });
    }

private:
    COPCAutoServer* owner_;  // not counted; cleared by the owner's Disconnect
};

namespace {

constexpr DISPID kDispidServerShutDown = 1;

}  // namespace

COPCAutoServer::COPCAutoServer() {
    serverEvents_ = &AddConnectionPoint(__uuidof(DIOPCServerEvent));
}

COPCAutoServer::~COPCAutoServer() = default;

HRESULT COPCAutoServer::FinalConstruct() {
    // Callbacks from a server that cannot authenticate to this process must still arrive. A
    // process that set its security before fails this call harmlessly.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                           RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    // Read when the object is made; applies to every value its groups hand out.
    return com::MakeObject(&groups_, this, ConversionSwitchedOn());
}

void COPCAutoServer::FinalRelease() {
    Disconnect();
    if (groups_) groups_->Detach();
    serverEvents_->DisconnectAll();
}

HRESULT COPCAutoServer::QueryStatus(Status* status) const {
    RETURN_HR_IF(E_FAIL, !server_);
    OPCSERVERSTATUS* raw = nullptr;
    RETURN_IF_FAILED(server_->GetStatus(&raw));
    RETURN_HR_IF(E_FAIL, !raw);
    status->startTime = raw->ftStartTime;
    status->currentTime = raw->ftCurrentTime;
    status->lastUpdateTime = raw->ftLastUpdateTime;
    status->state = raw->dwServerState;
    status->bandWidth = raw->dwBandWidth;
    status->majorVersion = raw->wMajorVersion;
    status->minorVersion = raw->wMinorVersion;
    status->buildNumber = raw->wBuildNumber;
    const wchar_t* vendor = raw->szVendorInfo ? raw->szVendorInfo : L"";
    HRESULT hr = com::ComBoundary([&] { status->vendorInfo = vendor; });
    ::CoTaskMemFree(raw->szVendorInfo);
    ::CoTaskMemFree(raw);
    return hr;
}

template <class T, class Field>
HRESULT COPCAutoServer::StatusField(T* out, Field field) const {
    return com::ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !out);
        Status status;
        RETURN_IF_FAILED(QueryStatus(&status));
        return field(status, out);
    });
}

STDMETHODIMP COPCAutoServer::get_StartTime(DATE* StartTime) {
    return StatusField(StartTime, [](const Status& s, DATE* out) {
        *out = LocalDate(s.startTime);
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_CurrentTime(DATE* CurrentTime) {
    return StatusField(CurrentTime, [](const Status& s, DATE* out) {
        *out = LocalDate(s.currentTime);
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_LastUpdateTime(DATE* LastUpdateTime) {
    return StatusField(LastUpdateTime, [](const Status& s, DATE* out) {
        *out = LocalDate(s.lastUpdateTime);
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_MajorVersion(short* MajorVersion) {
    return StatusField(MajorVersion, [](const Status& s, short* out) {
        *out = static_cast<short>(s.majorVersion);
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_MinorVersion(short* MinorVersion) {
    return StatusField(MinorVersion, [](const Status& s, short* out) {
        *out = static_cast<short>(s.minorVersion);
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_BuildNumber(short* BuildNumber) {
    return StatusField(BuildNumber, [](const Status& s, short* out) {
        *out = static_cast<short>(s.buildNumber);
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_VendorInfo(BSTR* VendorInfo) {
    return StatusField(
        VendorInfo, [](const Status& s, BSTR* out) { return com::AllocBstr(s.vendorInfo, out); });
}

STDMETHODIMP COPCAutoServer::get_Bandwidth(LONG* Bandwidth) {
    return StatusField(Bandwidth, [](const Status& s, LONG* out) {
        *out = static_cast<LONG>(s.bandWidth);
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_ServerState(LONG* ServerState) {
    RETURN_HR_IF(E_INVALIDARG, !ServerState);
    if (!server_) {
        *ServerState = OPCDisconnected;
        return S_OK;
    }
    return StatusField(ServerState, [](const Status& s, LONG* out) {
        *out = static_cast<LONG>(s.state);
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_ServerName(BSTR* ServerName) {
    RETURN_HR_IF(E_INVALIDARG, !ServerName);
    return com::AllocBstr(serverName_, ServerName);
}

STDMETHODIMP COPCAutoServer::get_ServerNode(BSTR* ServerNode) {
    RETURN_HR_IF(E_INVALIDARG, !ServerNode);
    return com::AllocBstr(serverNode_, ServerNode);
}

STDMETHODIMP COPCAutoServer::get_ClientName(BSTR* ClientName) {
    RETURN_HR_IF(E_INVALIDARG, !ClientName);
    return com::AllocBstr(clientName_, ClientName);
}

IOPCCommon* COPCAutoServer::Common() {
    if (!common_ && server_) common_ = server_.try_query<IOPCCommon>();
    return common_.get();
}

STDMETHODIMP COPCAutoServer::put_ClientName(BSTR ClientName) {
    return com::ComBoundary([&] {
        clientName_ = std::wstring(com::BstrView(ClientName));
        // A server without IOPCCommon (DA 1.0) has no client name to set: stored only.
        IOPCCommon* common = Common();
        return common ? common->SetClientName(clientName_.c_str()) : S_OK;
    });
}

STDMETHODIMP COPCAutoServer::get_LocaleID(LONG* LocaleID) {
    RETURN_HR_IF(E_INVALIDARG, !LocaleID);
    HRESULT hr = S_OK;
    if (IOPCCommon* common = Common()) {
        LCID answer = 0;
        hr = common->GetLocaleID(&answer);
        // A failed call leaves nothing to store; the last known value is still handed out.
        if (SUCCEEDED(hr)) localeId_ = answer;
    }
    *LocaleID = static_cast<LONG>(localeId_);
    return hr;
}

STDMETHODIMP COPCAutoServer::put_LocaleID(LONG LocaleID) {
    localeId_ = static_cast<LCID>(LocaleID);
    IOPCCommon* common = Common();
    return common ? common->SetLocaleID(localeId_) : S_OK;
}

STDMETHODIMP COPCAutoServer::get_OPCGroups(IOPCGroups** ppGroups) {
    RETURN_HR_IF(E_INVALIDARG, !ppGroups);
    *ppGroups = nullptr;
    return groups_->QueryInterface(IID_PPV_ARGS(ppGroups));
}

STDMETHODIMP COPCAutoServer::get_PublicGroupNames(VARIANT* PublicGroups) {
    RETURN_HR_IF(E_INVALIDARG, !PublicGroups);
    return E_NOTIMPL;  // public groups are not supported
}

STDMETHODIMP COPCAutoServer::GetOPCServers(VARIANT Node, VARIANT* OPCServers) {
    return com::ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !OPCServers);
        serverList_.clear();
        const std::wstring node = NodeArgument(Node);
        std::vector<ServerRecord> found;
        if (FAILED(ListServersFromComponent(node, &found))) {
            found.clear();
            com::RegKey classes;
            const LSTATUS status = OpenClassesRoot(node, &classes);
            if (status != ERROR_SUCCESS)
                return com::MapFailure(E_FAIL, com::Win32Hr(status), "open the node's registry");
            RETURN_IF_FAILED(ScanRegistryForServers(classes.get(), &found));
        }
        com::UniqueSafeArray names;
        RETURN_IF_FAILED(CreateOneBasedArray(VT_BSTR, static_cast<ULONG>(found.size()), &names));
        for (size_t i = 0; i < found.size(); ++i) {
            com::UniqueBstr name(found[i].progId);
            RETURN_IF_NULL_ALLOC(name.get());
            LONG index = static_cast<LONG>(i) + 1;
            RETURN_IF_FAILED(::SafeArrayPutElement(names.get(), &index, name.get()));
        }
        serverList_ = std::move(found);
        ::VariantInit(OPCServers);
        V_VT(OPCServers) = VT_ARRAY | VT_BSTR;
        V_ARRAY(OPCServers) = names.release();
        return S_OK;
    });
}

HRESULT COPCAutoServer::FindClsid(const std::wstring& progId, const std::wstring& node,
                                  CLSID* clsid) const {
    for (const ServerRecord& record : serverList_) {
        if (record.progId == progId) {
            *clsid = record.clsid;
            return S_OK;
        }
    }
    if (SUCCEEDED(ClsidFromComponent(node, progId, clsid))) return S_OK;
    com::RegKey classes;
    const LSTATUS status = OpenClassesRoot(node, &classes);
    if (status != ERROR_SUCCESS)
        return com::MapFailure(E_FAIL, com::Win32Hr(status), "open the node's registry");
    const HRESULT hr = ClsidFromRegistry(classes.get(), progId, clsid);
    return FAILED(hr) ? com::MapFailure(E_FAIL, hr, "find the server's class") : S_OK;
}

STDMETHODIMP COPCAutoServer::Connect(BSTR ProgID, VARIANT Node) {
    return com::ComBoundary([&] {
        Disconnect();
        const std::wstring progId(com::BstrView(ProgID));
        std::wstring node = NodeArgument(Node);
        CLSID clsid;
        RETURN_IF_FAILED(FindClsid(progId, node, &clsid));

        com::ComPtr<IOPCServer> server;
        if (IsLocalNode(node)) {
            RETURN_IF_FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(IOPCServer),
                                                server.put_void()));
        } else {
            COSERVERINFO info = {};
            info.pwszName = node.data();
            MULTI_QI query = {&__uuidof(IOPCServer), nullptr, S_OK};
            RETURN_IF_FAILED(
                ::CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &query));
            RETURN_IF_FAILED(query.hr);
            server.attach(static_cast<IOPCServer*>(query.pItf));
        }
        server_ = std::move(server);
        serverName_ = progId;
        serverNode_ = node;
        return AdviseShutdown();
    });
}

HRESULT COPCAutoServer::AdviseShutdown() {
    auto container = server_.try_query<IConnectionPointContainer>();
    if (!container) return S_OK;
    com::ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(__uuidof(IOPCShutdown), point.put()))) return S_FALSE;
    com::ComPtr<CShutdownSink> sink;
    RETURN_IF_FAILED(com::MakeObject(&sink, this));
    DWORD cookie = 0;
    if (FAILED(point->Advise(static_cast<IOPCShutdown*>(sink.get()), &cookie))) {
        sink->Detach();
        return S_FALSE;
    }
    shutdownSink_ = std::move(sink);
    shutdownCookie_ = cookie;
    return S_OK;
}

void COPCAutoServer::UnadviseShutdown() {
    if (!shutdownSink_) return;
    if (auto container = server_.try_query<IConnectionPointContainer>()) {
        com::ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(container->FindConnectionPoint(__uuidof(IOPCShutdown), point.put())))
            point->Unadvise(shutdownCookie_);
    }
    // A server that still calls the sink finds it detached.
    shutdownSink_->Detach();
    shutdownSink_.reset();
    shutdownCookie_ = 0;
}

STDMETHODIMP COPCAutoServer::Disconnect() {
    if (!server_) return S_OK;
    UnadviseShutdown();
    const HRESULT removed = groups_->RemoveAll();
    for (COPCBrowserImpl* browser : browsers_) browser->Detach();
    browsers_.clear();
    itemProperties_.reset();
    common_.reset();
    server_.reset();
    serverName_.clear();
    serverNode_.clear();
    return removed;
}

STDMETHODIMP COPCAutoServer::CreateBrowser(OPCBrowser** ppBrowser) {
    RETURN_HR_IF(E_INVALIDARG, !ppBrowser);
    *ppBrowser = nullptr;
    RETURN_HR_IF(E_FAIL, !server_);
    auto browse = server_.try_query<IOPCBrowseServerAddressSpace>();
    RETURN_HR_IF(E_FAIL, !browse);
    return com::ComBoundary([&]() -> HRESULT {
        com::ComPtr<COPCBrowserImpl> browser;
        RETURN_IF_FAILED(com::MakeObject(&browser, this, browse.get()));
        browsers_.push_back(browser.get());
        return browser->QueryInterface(IID_PPV_ARGS(ppBrowser));
    });
}

void COPCAutoServer::ForgetBrowser(COPCBrowserImpl* browser) {
    browsers_.erase(std::remove(browsers_.begin(), browsers_.end(), browser), browsers_.end());
}

STDMETHODIMP COPCAutoServer::GetErrorString(LONG ErrorCode, BSTR* ErrorString) {
    return com::ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !ErrorString);
        *ErrorString = nullptr;
        wchar_t text[260];
        const DWORD length =
            ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(ErrorCode), LANGIDFROMLCID(localeId_), text,
                             ARRAYSIZE(text), nullptr);
        if (length > 0) return com::AllocBstr(std::wstring_view(text, length), ErrorString);
        RETURN_HR_IF(E_FAIL, !server_);
        LPWSTR serverText = nullptr;
        RETURN_IF_FAILED(server_->GetErrorString(ErrorCode, localeId_, &serverText));
        const HRESULT hr = com::AllocBstr(serverText ? serverText : L"", ErrorString);
        ::CoTaskMemFree(serverText);
        return hr;
    });
}

STDMETHODIMP COPCAutoServer::QueryAvailableLocaleIDs(VARIANT* LocaleIDs) {
    return com::ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !LocaleIDs);
        IOPCCommon* common = Common();
        RETURN_HR_IF(E_FAIL, !common);
        DWORD count = 0;
        LCID* raw = nullptr;
        RETURN_IF_FAILED(common->QueryAvailableLocaleIDs(&count, &raw));
        com::CoTaskMem<LCID> ids(raw);
        com::UniqueSafeArray array;
        RETURN_IF_FAILED(CreateOneBasedArray(VT_I4, count, &array));
        for (DWORD i = 0; i < count; ++i) {
            LONG index = static_cast<LONG>(i) + 1;
            LONG value = static_cast<LONG>(ids[i]);
            RETURN_IF_FAILED(::SafeArrayPutElement(array.get(), &index, &value));
        }
        ::VariantInit(LocaleIDs);
        V_VT(LocaleIDs) = VT_ARRAY | VT_I4;
        V_ARRAY(LocaleIDs) = array.release();
        return S_OK;
    });
}

IOPCItemProperties* COPCAutoServer::ItemProperties() {
    if (!itemProperties_ && server_) itemProperties_ = server_.try_query<IOPCItemProperties>();
    return itemProperties_.get();
}

STDMETHODIMP COPCAutoServer::QueryAvailableProperties(BSTR ItemID, LONG* Count,
                                                      SAFEARRAY** PropertyIDs,
                                                      SAFEARRAY** Descriptions,
                                                      SAFEARRAY** DataTypes) {
    return com::ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !Count || !PropertyIDs || !Descriptions || !DataTypes);
        IOPCItemProperties* properties = ItemProperties();
        RETURN_HR_IF(E_FAIL, !properties);
        const std::wstring itemId(com::BstrView(ItemID));
        DWORD count = 0;
        DWORD* rawIds = nullptr;
        LPWSTR* rawDescriptions = nullptr;
        VARTYPE* rawTypes = nullptr;
        RETURN_IF_FAILED(properties->QueryAvailableProperties(
            const_cast<LPWSTR>(itemId.c_str()), &count, &rawIds, &rawDescriptions, &rawTypes));
        com::CoTaskMem<DWORD> ids(rawIds);
        com::CoTaskMem<VARTYPE> types(rawTypes);
        com::ScopeExit freeTexts([&] {
            for (DWORD i = 0; rawDescriptions && i < count; ++i)
                ::CoTaskMemFree(rawDescriptions[i]);
            ::CoTaskMemFree(rawDescriptions);
        });
        RETURN_HR_IF(E_FAIL, count > 0 && (!rawIds || !rawDescriptions || !rawTypes));
        com::UniqueSafeArray idArray, textArray, typeArray;
        RETURN_IF_FAILED(CreateOneBasedArray(VT_I4, count, &idArray));
        RETURN_IF_FAILED(CreateOneBasedArray(VT_BSTR, count, &textArray));
        RETURN_IF_FAILED(CreateOneBasedArray(VT_I2, count, &typeArray));
        for (DWORD i = 0; i < count; ++i) {
            LONG index = static_cast<LONG>(i) + 1;
            LONG id = static_cast<LONG>(ids[i]);
            SHORT type = static_cast<SHORT>(types[i]);
            com::UniqueBstr text(rawDescriptions[i] ? rawDescriptions[i] : L"");
            RETURN_IF_NULL_ALLOC(text.get());
            RETURN_IF_FAILED(::SafeArrayPutElement(idArray.get(), &index, &id));
            RETURN_IF_FAILED(::SafeArrayPutElement(textArray.get(), &index, text.get()));
            RETURN_IF_FAILED(::SafeArrayPutElement(typeArray.get(), &index, &type));
        }
        *Count = static_cast<LONG>(count);
        *PropertyIDs = idArray.release();
        *Descriptions = textArray.release();
        *DataTypes = typeArray.release();
        return S_OK;
    });
}

STDMETHODIMP COPCAutoServer::GetItemProperties(BSTR ItemID, LONG Count, SAFEARRAY** PropertyIDs,
                                               SAFEARRAY** PropertyValues, SAFEARRAY** Errors) {
    return com::ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !PropertyIDs || !PropertyValues || !Errors);
        std::vector<LONG> ids;
        RETURN_IF_FAILED(ReadClientLongs(*PropertyIDs, Count, &ids));
        IOPCItemProperties* properties = ItemProperties();
        RETURN_HR_IF(E_FAIL, !properties);
        const std::wstring itemId(com::BstrView(ItemID));
        VARIANT* rawValues = nullptr;
        HRESULT* rawErrors = nullptr;
        const HRESULT hr = properties->GetItemProperties(
            const_cast<LPWSTR>(itemId.c_str()), static_cast<DWORD>(Count),
            reinterpret_cast<DWORD*>(ids.data()), &rawValues, &rawErrors);
        RETURN_IF_FAILED(hr);
        com::CoTaskMem<HRESULT> errors(rawErrors);
        com::ScopeExit freeValues([&] {
            for (LONG i = 0; rawValues && i < Count; ++i) ::VariantClear(&rawValues[i]);
            ::CoTaskMemFree(rawValues);
        });
        RETURN_HR_IF(E_FAIL, !rawValues || !rawErrors);
        com::UniqueSafeArray valueArray, errorArray;
        RETURN_IF_FAILED(CreateOneBasedArray(VT_VARIANT, Count, &valueArray));
        RETURN_IF_FAILED(CreateOneBasedArray(VT_I4, Count, &errorArray));
        for (LONG i = 0; i < Count; ++i) {
            LONG index = i + 1;
            RETURN_IF_FAILED(::SafeArrayPutElement(valueArray.get(), &index, &rawValues[i]));
            RETURN_IF_FAILED(::SafeArrayPutElement(errorArray.get(), &index, &errors[i]));
        }
        *PropertyValues = valueArray.release();
        *Errors = errorArray.release();
        return hr;
    });
}

STDMETHODIMP COPCAutoServer::LookupItemIDs(BSTR ItemID, LONG Count, SAFEARRAY** PropertyIDs,
                                           SAFEARRAY** NewItemIDs, SAFEARRAY** Errors) {
    return com::ComBoundary([&] {
        RETURN_HR_IF(E_INVALIDARG, !PropertyIDs || !NewItemIDs || !Errors);
        std::vector<LONG> ids;
        RETURN_IF_FAILED(ReadClientLongs(*PropertyIDs, Count, &ids));
        IOPCItemProperties* properties = ItemProperties();
        RETURN_HR_IF(E_FAIL, !properties);
        const std::wstring itemId(com::BstrView(ItemID));
        LPWSTR* rawItemIds = nullptr;
        HRESULT* rawErrors = nullptr;
        const HRESULT hr = properties->LookupItemIDs(
            const_cast<LPWSTR>(itemId.c_str()), static_cast<DWORD>(Count),
            reinterpret_cast<DWORD*>(ids.data()), &rawItemIds, &rawErrors);
        RETURN_IF_FAILED(hr);
        com::CoTaskMem<HRESULT> errors(rawErrors);
        com::ScopeExit freeTexts([&] {
            for (LONG i = 0; rawItemIds && i < Count; ++i) ::CoTaskMemFree(rawItemIds[i]);
            ::CoTaskMemFree(rawItemIds);
        });
        RETURN_HR_IF(E_FAIL, !rawItemIds || !rawErrors);
        com::UniqueSafeArray idArray, errorArray;
        RETURN_IF_FAILED(CreateOneBasedArray(VT_BSTR, Count, &idArray));
        RETURN_IF_FAILED(CreateOneBasedArray(VT_I4, Count, &errorArray));
        for (LONG i = 0; i < Count; ++i) {
            LONG index = i + 1;
            com::UniqueBstr text(rawItemIds[i] ? rawItemIds[i] : L"");
            RETURN_IF_NULL_ALLOC(text.get());
            RETURN_IF_FAILED(::SafeArrayPutElement(idArray.get(), &index, text.get()));
            RETURN_IF_FAILED(::SafeArrayPutElement(errorArray.get(), &index, &errors[i]));
        }
        *NewItemIDs = idArray.release();
        *Errors = errorArray.release();
        return hr;
    });
}

void COPCAutoServer::OnShutdownRequest(LPCWSTR szReason) {
    com::UniqueVariant reason{std::wstring_view(szReason)};
    for (auto& sink : serverEvents_->Sinks<DIOPCServerEvent>()) {
        DISPPARAMS params = {reason.get(), nullptr, 1, 0};
        // A sink that fails or is gone must not keep the event from the others.
        sink->Invoke(kDispidServerShutDown, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                     nullptr, nullptr, nullptr);
    }
}

}  // namespace vkauto
