#include "Session.h"

#include <algorithm>

#include "Texts.h"
#include "com/Memory.h"
#include "com/Strings.h"
#include "com/ValueText.h"

namespace kirrow {
namespace {

constexpr DWORD kUpdateRate = 1000;
constexpr float kDeadband = 10.0f;
constexpr DWORD kLocale = 0x400;

void Add(Messages* messages, std::wstring text, const wchar_t* caption = kMessageCaption) {
    if (messages) messages->push_back({std::move(text), caption});
}

// The per-item results of one call, freed with their contents.
struct ItemResults {
    com::CoTaskMem<OPCITEMRESULT> results;
    com::CoTaskMem<HRESULT> errors;
    DWORD count = 0;
    ~ItemResults() {
        for (DWORD i = 0; results && i < count; ++i) CoTaskMemFree(results[i].pBlob);
    }
};

struct ItemStates {
    com::CoTaskMem<OPCITEMSTATE> states;
    com::CoTaskMem<HRESULT> errors;
    DWORD count = 0;
    ~ItemStates() {
        for (DWORD i = 0; states && i < count; ++i) VariantClear(&states[i].vDataValue);
    }
};

template <class T>
void Query(IUnknown* unknown, com::ComPtr<T>* out) {
    out->reset();
    unknown->QueryInterface(__uuidof(T), out->put_void());
}

}  // namespace

std::wstring GroupRecord::DisplayName() const {
    return name.empty() ? com::Format(L"Handle = %lu", serverHandle) : name;
}

void GroupRecord::ReleaseInterfaces() {
    itemMgt.reset();
    stateMgt.reset();
    publicStateMgt.reset();
    syncIO.reset();
    asyncIO.reset();
    asyncIO2.reset();
    connectionPoints.reset();
    dataObject.reset();
}

HRESULT Session::Connect(const std::wstring& host, const std::wstring& progId, Messages* messages) {
    Disconnect();
    CLSID clsid = CLSID_NULL;
    HRESULT hr = progId.empty() ? CO_E_CLASSSTRING : CLSIDFromProgID(progId.c_str(), &clsid);
    com::ComPtr<IUnknown> unknown;
    if (SUCCEEDED(hr)) {
        const bool local = host.empty() || com::EqualsNoCase(host, L"localserver");
        COSERVERINFO info = {};
        info.pwszName = const_cast<wchar_t*>(host.c_str());
        MULTI_QI result = {&IID_IUnknown, nullptr, S_OK};
        hr = CoCreateInstanceEx(clsid, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                local ? nullptr : &info, 1, &result);
        if (SUCCEEDED(hr)) hr = result.hr;
        if (SUCCEEDED(hr)) unknown.attach(result.pItf);
    }
    if (SUCCEEDED(hr)) {
        Query(unknown.get(), &server_);
        if (!server_) hr = E_NOINTERFACE;  // not an OPC DA server: the connection is dropped
    }
    if (FAILED(hr)) {
        Add(messages, L"Create Server failed : " + HexText(hr));
        return hr;
    }
    Query(unknown.get(), &common_);
    Query(unknown.get(), &publicGroups_);
    Query(unknown.get(), &browse_);
    Query(unknown.get(), &persistFile_);
    Query(unknown.get(), &connectionPoints_);
    Query(unknown.get(), &itemProperties_);
    host_ = host;
    progId_ = progId;
    clsid_ = clsid;
    return S_OK;
}

void Session::Disconnect() {
    for (const OPCHANDLE group : GroupHandles()) RemoveGroup(group, nullptr);
    items_.Clear();
    groups_.Clear();
    server_.reset();
    common_.reset();
    publicGroups_.reset();
    browse_.reset();
    persistFile_.reset();
    connectionPoints_.reset();
    itemProperties_.reset();
    host_.clear();
    progId_.clear();
    clsid_ = CLSID_NULL;
}

HRESULT Session::AddGroup(const std::wstring& name, bool active, OPCHANDLE* clientHandle,
                          Messages* messages) {
    if (!server_) {
        Add(messages, L"Server does not exist!");
        return E_FAIL;
    }
    auto group = std::make_shared<GroupRecord>();
    group->clientHandle = groups_.Add(group);
    if (!group->clientHandle) return E_OUTOFMEMORY;
    LONG timeBias = 0;
    float deadband = kDeadband;
    com::ComPtr<IOPCGroupStateMgt> stateMgt;
    const HRESULT hr = server_->AddGroup(
        name.c_str(), active, kUpdateRate, group->clientHandle, &timeBias, &deadband, kLocale,
        &group->serverHandle, &group->updateRate, IID_IOPCGroupStateMgt, stateMgt.put_unknown());
    if (FAILED(hr) || !stateMgt) {
        groups_.Remove(group->clientHandle);
        Add(messages,
            L"IOPCServer::AddGroup() : " + name + L" not created : " +
                HexText(FAILED(hr) ? hr : E_NOINTERFACE),
            L"AddGroup");
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    group->name = name;
    group->active = active;
    group->stateMgt = stateMgt;
    Query(stateMgt.get(), &group->itemMgt);
    Query(stateMgt.get(), &group->publicStateMgt);
    Query(stateMgt.get(), &group->syncIO);
    Query(stateMgt.get(), &group->asyncIO);
    Query(stateMgt.get(), &group->asyncIO2);
    Query(stateMgt.get(), &group->connectionPoints);
    Query(stateMgt.get(), &group->dataObject);
    if (clientHandle) *clientHandle = group->clientHandle;
    return S_OK;
}

void Session::RemoveItemsOf(GroupRecord* group) {
    std::vector<OPCHANDLE> serverHandles;
    for (const OPCHANDLE handle : group->items) {
        std::shared_ptr<ItemRecord> item;
        if (items_.Remove(handle, &item)) serverHandles.push_back(item->serverHandle);
    }
    group->items.clear();
    if (serverHandles.empty() || !group->itemMgt) return;
    com::CoTaskMem<HRESULT> errors;
    group->itemMgt->RemoveItems(static_cast<DWORD>(serverHandles.size()), serverHandles.data(),
                                errors.put());
}

HRESULT Session::RemoveGroup(OPCHANDLE clientHandle, Messages* messages) {
    std::shared_ptr<GroupRecord> group = Group(clientHandle);
    if (!server_ || !group) return E_INVALIDARG;
    // A public group belongs to every client of the server: it is not this client's to remove.
    BOOL isPublic = FALSE;
    if (group->publicStateMgt && SUCCEEDED(group->publicStateMgt->GetState(&isPublic)) &&
        isPublic) {
        Add(messages, L"The group is a public group.");
        return E_ACCESSDENIED;
    }
    groups_.Remove(clientHandle);
    RemoveItemsOf(group.get());
    // A group whose interfaces are still held would only be marked for removal
    // (OPC_S_INUSE) and live on in the server.
    group->ReleaseInterfaces();
    const HRESULT hr = server_->RemoveGroup(group->serverHandle, FALSE);
    if (FAILED(hr)) Add(messages, L"IOPCServer::RemoveGroup() failed : " + HexText(hr));
    return hr;
}

HRESULT Session::AddItems(OPCHANDLE groupHandle, const std::vector<std::wstring>& itemIds,
                          std::vector<OPCHANDLE>* added, Messages* messages) {
    std::shared_ptr<GroupRecord> group = Group(groupHandle);
    if (!group || !group->itemMgt) {
        Add(messages, L"OPCItemmgtAdditems() : No group selected.");
        return E_INVALIDARG;
    }
    std::vector<std::shared_ptr<ItemRecord>> records;
    std::vector<OPCITEMDEF> definitions;
    for (const std::wstring& id : itemIds) {
        auto item = std::make_shared<ItemRecord>();
        item->itemId = id;
        item->groupHandle = groupHandle;
        item->clientHandle = items_.Add(item);
        records.push_back(item);
        OPCITEMDEF definition = {};
        definition.szAccessPath = const_cast<wchar_t*>(L"");
        definition.szItemID = const_cast<wchar_t*>(item->itemId.c_str());
        definition.bActive = TRUE;
        definition.hClient = item->clientHandle;
        definition.vtRequestedDataType = VT_EMPTY;
        definitions.push_back(definition);
    }
    ItemResults results;
    results.count = static_cast<DWORD>(definitions.size());
    const HRESULT hr = group->itemMgt->AddItems(results.count, definitions.data(),
                                                results.results.put(), results.errors.put());
    if (FAILED(hr)) {
        for (const auto& item : records) items_.Remove(item->clientHandle);
        Add(messages, L"IOPCItemMgt::AddItems() failed : " + HexText(hr));
        return hr;
    }
    for (DWORD i = 0; i < results.count; ++i) {
        ItemRecord& item = *records[i];
        if (FAILED(results.errors[i])) {
            items_.Remove(item.clientHandle);
            Add(messages,
                L"Item " + item.itemId + L" is _NOT_ added: " +
                    com::Format(L"%lx", static_cast<unsigned long>(results.errors[i])),
                L"AddItem Failed");
            continue;
        }
        item.serverHandle = results.results[i].hServer;
        item.canonicalType = results.results[i].vtCanonicalDataType;
        item.accessRights = results.results[i].dwAccessRights;
        group->items.push_back(item.clientHandle);
        if (added) added->push_back(item.clientHandle);
    }
    return hr;
}

HRESULT Session::RemoveItem(OPCHANDLE clientHandle, Messages* messages) {
    std::shared_ptr<ItemRecord> item = Item(clientHandle);
    std::shared_ptr<GroupRecord> group = item ? Group(item->groupHandle) : nullptr;
    if (!group) return E_INVALIDARG;
    items_.Remove(clientHandle);
    group->items.erase(std::remove(group->items.begin(), group->items.end(), clientHandle),
                       group->items.end());
    if (!group->itemMgt) return E_NOINTERFACE;
    com::CoTaskMem<HRESULT> errors;
    OPCHANDLE serverHandle = item->serverHandle;
    const HRESULT hr = group->itemMgt->RemoveItems(1, &serverHandle, errors.put());
    if (FAILED(hr)) Add(messages, L"IOPCItemMgt::RemoveItems() failed : " + HexText(hr));
    return hr;
}

HRESULT Session::Read(OPCHANDLE clientHandle, Messages* messages) {
    std::shared_ptr<ItemRecord> item = Item(clientHandle);
    std::shared_ptr<GroupRecord> group = item ? Group(item->groupHandle) : nullptr;
    if (!group || !group->syncIO) return E_INVALIDARG;
    ItemStates states;
    states.count = 1;
    OPCHANDLE serverHandle = item->serverHandle;
    const HRESULT hr = group->syncIO->Read(OPC_DS_DEVICE, 1, &serverHandle, states.states.put(),
                                           states.errors.put());
    if (FAILED(hr)) {
        states.count = 0;  // nothing was handed back
        Add(messages, L"IOPCSyncIO::Read() failed : " + HexText(hr));
        return hr;
    }
    const HRESULT itemHr = states.errors[0];
    if (FAILED(itemHr)) {
        Add(messages,
            itemHr == OPC_E_BADRIGHTS
                ? L"Error reading Item " + item->itemId + L" :\n the Accessrights forbid reading"
                : L"Error reading Item : " + item->itemId + L" with Result : " + HexText(itemHr) +
                      L" ",
            L"OPCSyncIORead Warning");
        return itemHr;
    }
    item->value.copy_from(states.states[0].vDataValue);
    item->quality = states.states[0].wQuality;
    item->timeStamp = states.states[0].ftTimeStamp;
    return S_OK;
}

HRESULT Session::Write(OPCHANDLE clientHandle, const std::wstring& text, Messages* messages) {
    std::shared_ptr<ItemRecord> item = Item(clientHandle);
    std::shared_ptr<GroupRecord> group = item ? Group(item->groupHandle) : nullptr;
    if (!group || !group->syncIO) return E_INVALIDARG;
    const auto itemFailure = [&](HRESULT itemHr) {
        Add(messages,
            itemHr == OPC_E_BADRIGHTS
                ? L"Error writing Item " + item->itemId + L" :\n the Accessrights forbid writing"
                : L"Error writing Item " + item->itemId + L" with Result : " + HexText(itemHr) +
                      L" ",
            L"OPCSyncIOWrite Warning");
        return itemHr;
    };
    com::UniqueVariant value;
    std::wstring reason;
    const VARTYPE type = item->canonicalType == VT_EMPTY ? VT_BSTR : item->canonicalType;
    if (FAILED(ParseValue(text, type, value.put(), &reason)))
        return itemFailure(DISP_E_TYPEMISMATCH);
    OPCHANDLE serverHandle = item->serverHandle;
    com::CoTaskMem<HRESULT> errors;
    const HRESULT hr = group->syncIO->Write(1, &serverHandle, value.get(), errors.put());
    if (FAILED(hr)) {
        Add(messages, L"IOPCSyncIO::Write() failed : " + HexText(hr));
        return hr;
    }
    return FAILED(errors[0]) ? itemFailure(errors[0]) : S_OK;
}

HRESULT Session::ValidateItem(OPCHANDLE groupHandle, const std::wstring& itemId,
                              std::wstring* result) {
    std::shared_ptr<GroupRecord> group = Group(groupHandle);
    if (!group || !group->itemMgt) {
        *result = L"No group selected.";
        return E_INVALIDARG;
    }
    OPCITEMDEF definition = {};
    definition.szAccessPath = const_cast<wchar_t*>(L"");
    definition.szItemID = const_cast<wchar_t*>(itemId.c_str());
    definition.bActive = TRUE;
    definition.vtRequestedDataType = VT_EMPTY;
    ItemResults results;
    results.count = 1;
    const HRESULT hr = group->itemMgt->ValidateItems(1, &definition, FALSE, results.results.put(),
                                                     results.errors.put());
    if (FAILED(hr)) {
        results.count = 0;
        *result = L"IOPCItemMgt::ValidateItems() failed : " + HexText(hr);
        return hr;
    }
    if (FAILED(results.errors[0])) {
        *result = itemId + L": invalid : " + HexText(results.errors[0]);
        return results.errors[0];
    }
    *result = itemId + L": valid, " + VarTypeName(results.results[0].vtCanonicalDataType) + L", " +
              AccessRightsText(results.results[0].dwAccessRights);
    return S_OK;
}

std::shared_ptr<GroupRecord> Session::Group(OPCHANDLE clientHandle) const {
    std::shared_ptr<GroupRecord> group;
    groups_.Find(clientHandle, &group);
    return group;
}

std::shared_ptr<ItemRecord> Session::Item(OPCHANDLE clientHandle) const {
    std::shared_ptr<ItemRecord> item;
    items_.Find(clientHandle, &item);
    return item;
}

std::vector<OPCHANDLE> Session::GroupHandles() const {
    std::vector<OPCHANDLE> handles;
    for (const auto& entry : groups_.Snapshot()) handles.push_back(entry.first);
    std::sort(handles.begin(), handles.end());
    return handles;
}

std::vector<std::pair<std::wstring, bool>> Session::ServerInterfaces() const {
    return {
        {L"IOPCServer", static_cast<bool>(server_)},
        {L"IOPCCommon", static_cast<bool>(common_)},
        {L"IOPCServerPublicGroups", static_cast<bool>(publicGroups_)},
        {L"IOPCBrowseServerAddressSpace", static_cast<bool>(browse_)},
        {L"IPersistFile", static_cast<bool>(persistFile_)},
        {L"IConnectionPointContainer", static_cast<bool>(connectionPoints_)},
        {L"IOPCItemProperties", static_cast<bool>(itemProperties_)},
    };
}

std::vector<std::pair<std::wstring, bool>> Session::GroupInterfaces(const GroupRecord& group) {
    return {
        {L"IOPCItemMgt", static_cast<bool>(group.itemMgt)},
        {L"IOPCGroupStateMgt", static_cast<bool>(group.stateMgt)},
        {L"IOPCPublicGroupStateMgt", static_cast<bool>(group.publicStateMgt)},
        {L"IOPCSyncIO", static_cast<bool>(group.syncIO)},
        {L"IOPCAsyncIO", static_cast<bool>(group.asyncIO)},
        {L"IOPCAsyncIO2", static_cast<bool>(group.asyncIO2)},
        {L"IConnectionPointContainer", static_cast<bool>(group.connectionPoints)},
        {L"IDataObject", static_cast<bool>(group.dataObject)},
    };
}

}  // namespace kirrow
