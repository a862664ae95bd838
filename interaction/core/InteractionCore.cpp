#include "InteractionCore.h"

#include <cwctype>

#include "CommLog.h"
#include "ErrorBoxes.h"
#include "Naming.h"
#include "com/Bstr.h"
#include "com/Memory.h"
#include "com/RegKey.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "com/Variant.h"

namespace orvane::interaction {
namespace {

// Value names in "BusServers" that hold the bus server's ProgID begin with this.
constexpr wchar_t kProgIdValuePrefix[] = L"busserverprogid";

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    const size_t length = std::wcslen(prefix);
    return text.size() >= length &&
           com::EqualsNoCase(std::wstring_view(text).substr(0, length), prefix);
}

// Every string of an enumerator.
std::vector<std::wstring> Drain(IEnumString* names) {
    std::vector<std::wstring> result;
    LPOLESTR name = nullptr;
    ULONG fetched = 0;
    while (names->Next(1, &name, &fetched) == S_OK && fetched == 1) {
        result.emplace_back(name ? name : L"");
        CoTaskMemFree(name);
    }
    return result;
}

std::wstring FullItemId(IOPCBrowseServerAddressSpace* browse, const std::wstring& name,
                        HRESULT* hr) {
    com::CoTaskMem<wchar_t> id;
    *hr = browse->GetItemID(const_cast<LPWSTR>(name.c_str()), id.put());
    return SUCCEEDED(*hr) && id ? std::wstring(id.get()) : std::wstring();
}

void Trace(const std::wstring& text) {
    if (CommLog::On()) CommLog::Write(text);
}

}  // namespace

InteractionCore::InteractionCore(HKEY root, std::wstring key)
    : root_(root), key_(std::move(key)), settings_(ReadSettings(root, key_.c_str())) {
    transfer_.SetCompletionTimeout(settings_.timeoutCheckNamespace);
    transfer_.SetSerialAccess(settings_.serialBusAccess != 0);
}

InteractionCore::~InteractionCore() = default;

HRESULT InteractionCore::GetModel(IUnknown** ppUnkModelRoot) {
    RETURN_HR_IF(E_INVALIDARG, !ppUnkModelRoot);
    *ppUnkModelRoot = nullptr;
    DeferredErrorBoxes boxes;  // shown after the lock is left
    com::CsLock guard(lock_);
    if (!modelReady_) {
        const HRESULT hr = SetUpModel();
        if (FAILED(hr)) {
            // The next GetModel starts afresh instead of finding half a namespace.
            DropSetUp();
            return hr;
        }
    }
    RETURN_IF_FAILED(
        m_spObjModel->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppUnkModelRoot)));
    ++connections_;
    return S_OK;
}

HRESULT InteractionCore::ReleaseConnections() {
    std::vector<com::ComPtr<VKModelParameter>> items;
    com::ComPtr<IvkInteraction2> connection;
    {
        com::CsLock guard(lock_);
        if (connections_ == 0) return S_OK;
        // The browse interface stays: a later GetModel finds the model set up and
        // discovery must still be able to browse.
        opcServer_.reset();
        if (--connections_ > 0) return S_OK;
        items.swap(busServerItems_);
        devices_.clear();
        // The next client's namespace check discovers the devices again.
        modelInitialized_ = false;
        nameSpaceChecked_ = false;
        connection = m_spVkInteraction;
    }
    std::deque<ItemRecord> records;
    std::deque<InternalItem> internalItems;
    std::vector<PassThroughItem> passThrough;
    {
        com::CsLock module(ModuleLock());
        records.swap(records_);
        internalItems.swap(internalItems_);
        passThrough.swap(passThroughItems_);
    }
    // Outside the lock: these are calls into the bus-server connection object.
    for (const auto& item : items) {
        com::UniqueBstr path;
        if (connection && SUCCEEDED(item->GetAccessPath(path.put())))
            connection->Terminate(*com::UniqueVariant(path.view()));
    }
    for (const auto& item : passThrough) {
        if (connection) connection->Terminate(*com::UniqueVariant(item.address));
    }
    return S_OK;
}

void InteractionCore::DropSetUp() {
    busServerNode_.reset();
    m_spObjModel.reset();
    m_spVkInteraction.reset();
    m_spVkAsyncInteraction.reset();
    browse_.reset();
    opcServer_.reset();
    transfer_.SetConnection(nullptr, nullptr);
}

HRESULT InteractionCore::SetUpModel() {
    com::ComPtr<IUnknown> connection;
    RETURN_IF_FAILED(CreateConnectionObject(&connection));
    RETURN_IF_FAILED(CreateObjectModel());
    com::RegKey settings;
    if (const LSTATUS status = settings.Open(root_, key_); status != ERROR_SUCCESS) {
        ShowErrorBox(IDS_REGISTRY);
        return com::MapFailure(E_FAIL, com::Win32Hr(status), "opening the settings key");
    }
    RETURN_IF_FAILED(ReadBusServerProgId(settings.get()));
    RETURN_IF_FAILED(QueryConnectionInterfaces(connection.get()));
    RETURN_IF_FAILED(BuildNamespaceRoot());
    RETURN_IF_FAILED(OpenBrowsingConnection());
    RETURN_IF_FAILED(busServerNode_->SetAccessPath(
        com::UniqueBstr(BusServerAccessPath(busServerProgId_)).get()));
    transfer_.SetConnection(m_spVkInteraction, m_spVkAsyncInteraction);
    modelReady_ = true;
    return S_OK;
}

HRESULT InteractionCore::CreateConnectionObject(com::ComPtr<IUnknown>* connection) {
    HRESULT hr = CoCreateInstance(CLSID_OPCInteraction, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IUnknown,
                                  connection->put_void());
    if (FAILED(hr)) {
        ShowErrorBox(IDS_COCREATE_INTERACTION);
        return hr;
    }
    if (!*connection) {
        ShowErrorBox(IDS_NO_INTERACTION_OBJECT);
        return E_POINTER;
    }
    com::ComPtr<IvkInteraction2> interaction;
    if (FAILED(hr = connection->query(&interaction))) {
        ShowErrorBox(IDS_QI_INTERACTION2);
        return hr;
    }
    if (!interaction) {
        ShowErrorBox(IDS_NO_INTERACTION2);
        return E_POINTER;
    }
    return S_OK;
}

HRESULT InteractionCore::CreateObjectModel() {
    if (m_spObjModel) return S_OK;
    const HRESULT hr = com::CoCreate(CLSID_ModelObject, &m_spObjModel, CLSCTX_INPROC_SERVER);
    if (FAILED(hr)) {
        ShowErrorBox(IDS_COCREATE_MODEL);
        return hr;
    }
    if (!m_spObjModel) {
        ShowErrorBox(IDS_NO_OBJECT_MODEL);
        return E_POINTER;
    }
    return S_OK;
}

HRESULT InteractionCore::ReadBusServerProgId(HKEY settings) {
    com::RegKey servers;
    if (const LSTATUS status = servers.Open(settings, L"BusServers"); status != ERROR_SUCCESS) {
        ShowErrorBox(IDS_NO_SERVER_ENTRY);
        return com::MapFailure(E_FAIL, com::Win32Hr(status), "opening BusServers");
    }
    busServerProgId_.clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        const LONG error =
            RegEnumValueW(servers.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS) break;
        if (error != ERROR_SUCCESS) continue;  // a name too long for the buffer cannot be ours
        if (StartsWithNoCase(name, kProgIdValuePrefix)) {
            servers.ReadString(name, &busServerProgId_);  // missing or not REG_SZ: none
            break;
        }
    }
    return S_OK;
}

HRESULT InteractionCore::QueryConnectionInterfaces(IUnknown* connection) {
    HRESULT hr =
        connection->QueryInterface(__uuidof(IvkInteraction2), m_spVkInteraction.put_void());
    if (FAILED(hr)) {
        ShowErrorBox(IDS_QI_INTERACTION2);
        return hr;
    }
    if (!m_spVkInteraction) {
        ShowErrorBox(IDS_NO_VKINTERACTION);
        return E_POINTER;
    }
    hr = connection->QueryInterface(__uuidof(IvkAsyncInteraction),
                                    m_spVkAsyncInteraction.put_void());
    if (FAILED(hr)) {
        ShowErrorBox(IDS_QI_ASYNC);
        return hr;
    }
    if (!m_spVkAsyncInteraction) {
        ShowErrorBox(IDS_NO_ASYNC);
        return E_POINTER;
    }
    return S_OK;
}

HRESULT InteractionCore::BuildNamespaceRoot() {
    const std::wstring nodeName = BusServerNodeName(busServerProgId_);
    com::ComPtr<IUnknown> node;
    RETURN_IF_FAILED(
        m_spObjModel->CreateObject(com::UniqueBstr(nodeName).get(), nullptr, node.put()));
    RETURN_HR_IF(E_POINTER, !node);
    RETURN_IF_FAILED(node.query(&busServerNode_));

    com::ComPtr<IUnknown> created;
    RETURN_IF_FAILED(
        busServerNode_->CreateParameter(com::UniqueBstr(L"__root").get(), nullptr, created.put()));
    RETURN_HR_IF(E_POINTER, !created);
    com::ComPtr<VKModelParameter> root;
    RETURN_IF_FAILED(created.query(&root));
    // Hidden from browsing.
    if (auto root2 = created.try_query<VKModelParameter2>()) RETURN_IF_FAILED(root2->SetFlags(1));
    VARIANT zero;
    VariantInit(&zero);
    V_VT(&zero) = VT_UI1;
    V_UI1(&zero) = 0;
    return root->Init(com::UniqueBstr(nodeName + L"/__root").get(), OPC_READABLE, VT_UI1, zero);
}

HRESULT InteractionCore::FollowLoadedTree() {
    if (!busServerNode_ || !m_spObjModel) return S_OK;
    // A node the model took out of its tree has no parent any more.
    com::ComPtr<IUnknown> parent;
    if (SUCCEEDED(busServerNode_->GetParent(parent.put())) && parent) return S_OK;
    Trace(L"The model was loaded: the bus-server node and devices of the loaded tree");
    const std::wstring nodeName = BusServerNodeName(busServerProgId_);
    com::ComPtr<IUnknown> found;
    if (m_spObjModel->FindChild(com::UniqueBstr(nodeName).get(), found.put()) == S_OK && found &&
        SUCCEEDED(found.query(&busServerNode_))) {
        // Items made before the load keep their parameters and channel bindings; the
        // records of the loaded devices are set up anew.
        return CollectDevices();
    }
    // A file of another bus server: this one's node is made again.
    busServerNode_.reset();
    RETURN_IF_FAILED(BuildNamespaceRoot());
    RETURN_IF_FAILED(busServerNode_->SetAccessPath(
        com::UniqueBstr(BusServerAccessPath(busServerProgId_)).get()));
    return CollectDevices();
}

HRESULT InteractionCore::OpenBrowsingConnection() {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(busServerProgId_.c_str(), &clsid);
    if (FAILED(hr)) {
        ShowErrorBox(IDS_CLSIDFROMPROGID, busServerProgId_, hr);
        return E_FAIL;
    }
    com::ComPtr<IUnknown> server;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, server.put_void());
    if (FAILED(hr)) {
        ShowErrorBox(IDS_COCREATE_OPCSERVER, busServerProgId_, hr);
        return hr;
    }
    if (!server) {
        ShowErrorBox(IDS_NO_SERVER_OBJECT);
        return E_POINTER;
    }
    if (FAILED(hr = server.query(&opcServer_))) {
        ShowErrorBox(IDS_QI_OPCSERVER);
        return hr;
    }
    if (!opcServer_) {
        ShowErrorBox(IDS_NO_OPCSERVER);
        return E_POINTER;
    }
    if (FAILED(hr = opcServer_.query(&browse_))) {
        ShowErrorBox(IDS_QI_BROWSE);
        return hr;
    }
    if (!browse_) {
        ShowErrorBox(IDS_NO_BROWSE);
        return E_POINTER;
    }
    return S_OK;
}

HRESULT InteractionCore::InitModel(std::vector<std::wstring>* created) {
    com::ComPtr<IOPCBrowseServerAddressSpace> browse;
    {
        DeferredErrorBoxes boxes;  // shown after the lock is left
        com::CsLock guard(lock_);
        if (!m_spObjModel) {
            ShowErrorBox(IDS_NO_OBJECT_MODEL);
            return E_POINTER;
        }
        browse = browse_;
    }
    if (!browse) {
        ShowErrorBox(IDS_QI_BROWSE);
        return E_POINTER;
    }
    return DiscoverDevices(browse.get(), created);
}

HRESULT InteractionCore::DiscoverDevices(IOPCBrowseServerAddressSpace* browse,
                                         std::vector<std::wstring>* created) {
    RETURN_IF_NULL_POINTER(created);
    created->clear();
    DeferredErrorBoxes boxes;  // shown after the lock is left
    com::CsLock guard(lock_);
    if (!m_spObjModel || !busServerNode_) {
        ShowErrorBox(IDS_NO_OBJECT_MODEL);
        return E_POINTER;
    }
    RETURN_IF_FAILED(FollowLoadedTree());
    size_t found = 0;
    RETURN_IF_FAILED(MarkerBrowse(browse, created, &found));
    if (found == 0) RETURN_IF_FAILED(PatternBrowse(browse, created));
    RETURN_IF_FAILED(CollectDevices());
    modelInitialized_ = true;
    return S_OK;
}

HRESULT InteractionCore::MarkerBrowse(IOPCBrowseServerAddressSpace* browse,
                                      std::vector<std::wstring>* created, size_t* found) {
    com::ComPtr<IEnumString> names;
    const std::wstring filter = std::wstring(L"*") + kVendorMarker;
    const HRESULT hr = browse->BrowseOPCItemIDs(OPC_FLAT, filter.c_str(), VT_EMPTY, 0, names.put());
    if (FAILED(hr)) {
        ShowErrorBox(IDS_BROWSE_FAILED);
        return hr;
    }
    if (!names) return S_OK;  // nothing marked: the pattern browse decides
    for (const std::wstring& name : Drain(names.get())) {
        HRESULT idResult;
        const std::wstring id = FullItemId(browse, name, &idResult);
        std::wstring prefix;
        if (FAILED(idResult) || !PrefixFromMarker(id, &prefix)) continue;
        if (SUCCEEDED(CreateDeviceNode(prefix, created))) ++*found;
    }
    return S_OK;
}

HRESULT InteractionCore::PatternBrowse(IOPCBrowseServerAddressSpace* browse,
                                       std::vector<std::wstring>* created) {
    com::RegKey settings;
    if (const LSTATUS status = settings.Open(root_, key_); status != ERROR_SUCCESS) {
        ShowErrorBox(IDS_REGISTRY);
        return com::MapFailure(E_FAIL, com::Win32Hr(status), "opening the settings key");
    }
    com::RegKey info;
    LSTATUS status = info.Open(settings.get(), L"BusServerInfo\\" + busServerProgId_);
    if (status != ERROR_SUCCESS)
        return com::MapFailure(E_FAIL, com::Win32Hr(status), "opening BusServerInfo");
    std::wstring devSpecific, parSpecific;
    status = info.ReadString(L"DevSpecific", &devSpecific);
    if (status != ERROR_SUCCESS)
        return com::MapFailure(E_FAIL, com::Win32Hr(status), "reading DevSpecific");
    if (info.ReadString(L"ParSpecific", &parSpecific) != ERROR_SUCCESS)
        parSpecific = kDefaultChannelItem;

    com::ComPtr<IEnumString> names;
    const HRESULT hr = browse->BrowseOPCItemIDs(
        OPC_FLAT, PatternFilter(devSpecific, parSpecific).c_str(), VT_EMPTY, 0, names.put());
    if (FAILED(hr)) {
        ShowErrorBox(IDS_BROWSE_FAILED);
        return hr;
    }
    if (!names) {
        ShowErrorBox(IDS_NO_ENUM);
        return E_POINTER;
    }
    for (const std::wstring& name : Drain(names.get())) {
        if (!MatchesDevicePattern(name, devSpecific)) continue;
        HRESULT idResult;
        const std::wstring id = FullItemId(browse, name, &idResult);
        std::wstring prefix;
        if (FAILED(idResult) || !PrefixFromChannel(id, parSpecific, &prefix)) continue;
        CreateDeviceNode(prefix, created);
    }
    return S_OK;
}

std::wstring InteractionCore::ParSpecific() const {
    std::wstring progId;
    {
        com::CsLock guard(lock_);
        progId = busServerProgId_;
    }
    com::RegKey info;
    std::wstring parSpecific;
    if (info.Open(root_, key_ + L"\\BusServerInfo\\" + progId) != ERROR_SUCCESS ||
        info.ReadString(L"ParSpecific", &parSpecific) != ERROR_SUCCESS || parSpecific.empty())
        parSpecific = kDefaultChannelItem;
    return parSpecific;
}

HRESULT InteractionCore::CreateDeviceNode(const std::wstring& prefix,
                                          std::vector<std::wstring>* created) {
    const std::wstring name = DeviceNodeName(prefix);
    const com::UniqueBstr bsName(name);
    // A device found again (discovery after a release) keeps its node.
    com::ComPtr<IUnknown> existing;
    com::ComPtr<VKModelObject> node;
    if (busServerNode_->FindChild(bsName.get(), existing.put()) == S_OK && existing &&
        SUCCEEDED(existing.query(&node)))
        return S_OK;
    com::ComPtr<IUnknown> made;
    RETURN_IF_FAILED(busServerNode_->CreateObject(bsName.get(), nullptr, made.put()));
    if (!made || FAILED(made.query(&node))) {
        busServerNode_->DeleteParameter(bsName.get());
        return E_NOINTERFACE;
    }
    RETURN_IF_FAILED(
        node->SetAccessPath(com::UniqueBstr(BusServerAccessPath(busServerProgId_) + prefix).get()));
    created->push_back(name);
    return S_OK;
}

HRESULT InteractionCore::CollectDevices() {
    com::ComPtr<VKModelCollection> objects;
    RETURN_IF_FAILED(busServerNode_->GetObjects(objects.put()));
    RETURN_HR_IF(E_POINTER, !objects);
    long count = 0;
    RETURN_IF_FAILED(objects->GetCount(&count));
    std::vector<std::shared_ptr<DeviceRecord>> devices;
    for (long i = 0; i < count; ++i) {
        com::ComPtr<IUnknown> item;
        auto device = std::make_shared<DeviceRecord>();
        if (FAILED(objects->GetItem(i, item.put())) || !item || FAILED(item.query(&device->node)))
            continue;
        com::UniqueBstr name;
        device->node->GetName(name.put());
        device->name = name.str();
        if (CommLog::On())
            Trace(com::Format(L"  %d. %ls", static_cast<int>(i), device->name.c_str()));
        devices.push_back(std::move(device));
    }
    devices_ = std::move(devices);
    return S_OK;
}

ULONG InteractionCore::connectionCount() const {
    com::CsLock guard(lock_);
    return connections_;
}

size_t InteractionCore::deviceCount() const {
    com::CsLock guard(lock_);
    return devices_.size();
}

std::wstring InteractionCore::busServerProgId() const {
    com::CsLock guard(lock_);
    return busServerProgId_;
}

com::ComPtr<VKModelObject> InteractionCore::busServerNode() const {
    com::CsLock guard(lock_);
    return busServerNode_;
}

bool InteractionCore::modelInitialized() const {
    com::CsLock guard(lock_);
    return modelInitialized_;
}

}  // namespace orvane::interaction
