// opc_marshal_server.exe: a test-only local server that implements every OPC DA 2.0 /
// OPC Common interface with canned values (MarshalCases.h). Each method checks its
// in-values and answers MismatchHr(line) for the first that differs, so the client
// learns which value the proxy/stub delivered wrongly. Callbacks (IOPCShutdown,
// IOPCDataCallback) are sent synchronously inside the triggering call.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MarshalCases.h"
#include "com/ClassFactory.h"
#include "com/ComInit.h"
#include "com/ConnectionPoint.h"
#include "com/Enum.h"
#include "com/LocalServer.h"
#include "com/Memory.h"
#include "com/Module.h"
#include "com/Object.h"
#include "com/Sync.h"

using namespace marshal;

#define CHECK_IN(cond)                                     \
    do {                                                   \
        if (!(cond)) return marshal::MismatchHr(__LINE__); \
    } while (0)

namespace {

template <class T>
bool SameArray(const T* values, DWORD count, const std::vector<T>& expected) {
    return count == expected.size() && values &&
           std::equal(expected.begin(), expected.end(), values);
}

bool SameVariants(const VARIANT* values, DWORD count,
                  const std::vector<com::UniqueVariant>& expected) {
    if (count != expected.size() || !values) return false;
    for (DWORD i = 0; i < count; ++i)
        if (!SameVariant(values[i], *expected[i])) return false;
    return true;
}

template <class T>
HRESULT ArrayOut(const std::vector<T>& values, T** out) {
    com::CoTaskMem<T> array;
    RETURN_HR_IF(E_OUTOFMEMORY, !array.alloc(values.size()));
    std::copy(values.begin(), values.end(), array.get());
    *out = array.release();
    return S_OK;
}

HRESULT BlobOut(const std::vector<BYTE>& blob, DWORD* size, BYTE** out) {
    *size = static_cast<DWORD>(blob.size());
    *out = nullptr;
    return blob.empty() ? S_OK : ArrayOut(blob, out);
}

// Errors out; S_FALSE when an item failed, as OPC reports per-item failures.
HRESULT ErrorsOut(const std::vector<HRESULT>& errors, HRESULT** out) {
    RETURN_IF_FAILED(ArrayOut(errors, out));
    return std::all_of(errors.begin(), errors.end(), [](HRESULT hr) { return SUCCEEDED(hr); })
               ? S_OK
               : S_FALSE;
}

HRESULT ResultsOut(OPCITEMRESULT** out) {
    const auto cases = ItemResultCases();
    com::CoTaskMem<OPCITEMRESULT> results;
    RETURN_HR_IF(E_OUTOFMEMORY, !results.alloc(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        results[i].hServer = cases[i].server;
        results[i].vtCanonicalDataType = cases[i].canonical;
        results[i].dwAccessRights = cases[i].rights;
        const HRESULT hr = BlobOut(cases[i].blob, &results[i].dwBlobSize, &results[i].pBlob);
        if (FAILED(hr)) {
            for (size_t j = 0; j < i; ++j) CoTaskMemFree(results[j].pBlob);
            return hr;
        }
    }
    *out = results.release();
    return S_OK;
}

bool SameDefs(DWORD count, const OPCITEMDEF* defs) {
    const auto cases = ItemDefCases();
    if (count != cases.size() || !defs) return false;
    for (size_t i = 0; i < cases.size(); ++i)
        if (!Matches(defs[i], cases[i])) return false;
    return true;
}

// IEnumGUID and IOPCEnumGUID have the same shape.
template <class IEnum>
class GuidEnum : public com::Object<IEnum> {
public:
    GuidEnum(std::vector<GUID> items, size_t position)
        : items_(std::move(items)), position_(position) {}

    STDMETHODIMP Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) override {
        ULONG fetched = 0;
        for (; fetched < celt && position_ < items_.size(); ++fetched)
            rgelt[fetched] = items_[position_++];
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        const size_t remaining = items_.size() - position_;
        position_ += std::min<size_t>(celt, remaining);
        return celt <= remaining ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** ppenum) override {
        return com::CreateInstance<GuidEnum>(nullptr, __uuidof(IEnum),
                                             reinterpret_cast<void**>(ppenum), items_, position_);
    }

private:
    const std::vector<GUID> items_;
    size_t position_;  // calls arrive one at a time in this test
};

class ItemAttributesEnum : public com::Object<IEnumOPCItemAttributes> {
public:
    explicit ItemAttributesEnum(size_t position = 0) : position_(position) {}

    STDMETHODIMP Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override {
        *ppItemArray = nullptr;
        *pceltFetched = 0;
        const ULONG fetched =
            static_cast<ULONG>(std::min<size_t>(celt, ItemDefCases().size() - position_));
        if (fetched) {
            com::CoTaskMem<OPCITEMATTRIBUTES> items;
            RETURN_HR_IF(E_OUTOFMEMORY, !items.alloc(fetched));
            for (ULONG n = 0; n < fetched; ++n) {
                const HRESULT hr = Fill(position_ + n, &items[n]);
                if (FAILED(hr)) {
                    for (ULONG i = 0; i <= n; ++i) Free(&items[i]);
                    return hr;
                }
            }
            *ppItemArray = items.release();
        }
        position_ += fetched;
        *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        const size_t remaining = ItemDefCases().size() - position_;
        position_ += std::min<size_t>(celt, remaining);
        return celt <= remaining ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override {
        return com::CreateInstance<ItemAttributesEnum>(
            nullptr, IID_IEnumOPCItemAttributes, reinterpret_cast<void**>(ppEnumItemAttributes),
            position_);
    }

private:
    static HRESULT Fill(size_t i, OPCITEMATTRIBUTES* item) {
        const ItemDefCase def = ItemDefCases()[i];
        const ItemResultCase result = ItemResultCases()[i];
        if (def.accessPath)
            RETURN_IF_FAILED(com::CoTaskMemString(def.accessPath, &item->szAccessPath));
        RETURN_IF_FAILED(com::CoTaskMemString(def.itemId, &item->szItemID));
        item->bActive = def.active;
        item->hClient = def.client;
        item->hServer = result.server;
        item->dwAccessRights = result.rights;
        RETURN_IF_FAILED(BlobOut(def.blob, &item->dwBlobSize, &item->pBlob));
        item->vtRequestedDataType = def.requested;
        item->vtCanonicalDataType = result.canonical;
        item->dwEUType = EuTypes()[i];
        return EuInfo(i).move_to(&item->vEUInfo);
    }
    static void Free(OPCITEMATTRIBUTES* item) {
        CoTaskMemFree(item->szAccessPath);
        CoTaskMemFree(item->szItemID);
        CoTaskMemFree(item->pBlob);
        VariantClear(&item->vEUInfo);
    }

    size_t position_;
};

class CGroup
    : public com::Object<IOPCGroupStateMgt, IOPCPublicGroupStateMgt, IOPCSyncIO, IOPCAsyncIO,
                         IOPCAsyncIO2, IOPCItemMgt, com::ConnectionPointContainer> {
public:
    explicit CGroup(std::wstring name) : name_(std::move(name)) {
        callback_ = &AddConnectionPoint(IID_IOPCDataCallback);
    }

    std::wstring name() const {
        com::CsLock guard(lock_);
        return name_;
    }

    // IOPCGroupStateMgt
    STDMETHODIMP GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                          FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                          OPCHANDLE* phServerGroup) override {
        RETURN_IF_FAILED(com::CoTaskMemString(name(), ppName));
        *pUpdateRate = kRevisedRate;
        *pActive = TRUE;
        *pTimeBias = kTimeBias;
        *pPercentDeadband = kDeadband;
        *pLCID = kLcid;
        *phClientGroup = kClientGroup;
        *phServerGroup = kServerGroup;
        return S_OK;
    }
    STDMETHODIMP SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                          LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                          OPCHANDLE* phClientGroup) override {
        CHECK_IN(pRequestedUpdateRate && *pRequestedUpdateRate == 500);
        CHECK_IN(pRevisedUpdateRate);
        CHECK_IN(!pActive);
        CHECK_IN(pTimeBias && *pTimeBias == 0);
        CHECK_IN(!pPercentDeadband);
        CHECK_IN(pLCID && *pLCID == 0x0409);
        CHECK_IN(!phClientGroup);
        *pRevisedUpdateRate = 550;
        return S_OK;
    }
    STDMETHODIMP SetName(LPCWSTR szName) override {
        CHECK_IN(SameString(szName, kOtherGroupName));
        com::CsLock guard(lock_);
        name_ = szName;
        return S_OK;
    }
    STDMETHODIMP CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override {
        *ppUnk = nullptr;
        CHECK_IN(SameString(szName, kCloneName));
        return com::CreateInstance<CGroup>(nullptr, riid, reinterpret_cast<void**>(ppUnk), szName);
    }

    // IOPCPublicGroupStateMgt
    STDMETHODIMP GetState(BOOL* pPublic) override {
        *pPublic = public_ ? TRUE : FALSE;
        return S_OK;
    }
    STDMETHODIMP MoveToPublic() override {
        public_ = true;
        return S_OK;
    }

    // IOPCSyncIO
    STDMETHODIMP Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                      OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override {
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        CHECK_IN(dwSource == OPC_DS_DEVICE);
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        auto values = ReadValues();
        com::CoTaskMem<OPCITEMSTATE> states;
        RETURN_HR_IF(E_OUTOFMEMORY, !states.alloc(dwCount));
        for (DWORD i = 0; i < dwCount; ++i) {
            states[i].hClient = ClientItems()[i];
            states[i].ftTimeStamp = TimeStamps()[i];
            states[i].wQuality = Qualities()[i];
            states[i].vDataValue = values[i].release();
        }
        *ppItemValues = states.release();
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        CHECK_IN(SameVariants(pItemValues, dwCount, WriteValues()));
        return ErrorsOut(ItemErrors(), ppErrors);
    }

    // IOPCAsyncIO
    STDMETHODIMP Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                      OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(dwConnection == kConnection && dwSource == OPC_DS_CACHE);
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        *pTransactionID = kTransaction;
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       DWORD* pTransactionID, HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(dwConnection == kConnection);
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        CHECK_IN(SameVariants(pItemValues, dwCount, WriteValues()));
        *pTransactionID = kTransaction + 1;
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                         DWORD* pTransactionID) override {
        CHECK_IN(dwConnection == kConnection && dwSource == OPC_DS_DEVICE);
        *pTransactionID = kTransaction + 2;
        return S_OK;
    }
    STDMETHODIMP Cancel(DWORD dwTransactionID) override {
        CHECK_IN(dwTransactionID == kTransaction);
        return S_OK;
    }

    // IOPCAsyncIO2: each call answers through the advised IOPCDataCallback before it returns.
    STDMETHODIMP Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                      HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        CHECK_IN(dwTransactionID == kTransaction);
        *pdwCancelID = kCancelId;
        SendValues(&IOPCDataCallback::OnReadComplete);
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                       DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        CHECK_IN(SameVariants(pItemValues, dwCount, WriteValues()));
        CHECK_IN(dwTransactionID == kTransaction);
        *pdwCancelID = kCancelId;
        auto clients = ClientItems();
        auto errors = ItemErrors();
        for (auto& sink : callback_->Sinks<IOPCDataCallback>())
            sink->OnWriteComplete(kTransaction, kClientGroup, S_FALSE, dwCount, clients.data(),
                                  errors.data());
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                          DWORD* pdwCancelID) override {
        CHECK_IN(dwSource == OPC_DS_CACHE && dwTransactionID == kTransaction);
        *pdwCancelID = kCancelId;
        SendValues(&IOPCDataCallback::OnDataChange);
        return S_OK;
    }
    STDMETHODIMP Cancel2(DWORD dwCancelID) override {
        CHECK_IN(dwCancelID == kCancelId);
        for (auto& sink : callback_->Sinks<IOPCDataCallback>())
            sink->OnCancelComplete(kTransaction, kClientGroup);
        return S_OK;
    }
    STDMETHODIMP SetEnable(BOOL bEnable) override {
        CHECK_IN(bEnable == FALSE);
        enabled_ = false;
        return S_OK;
    }
    STDMETHODIMP GetEnable(BOOL* pbEnable) override {
        *pbEnable = enabled_ ? TRUE : FALSE;
        return S_OK;
    }

    // IOPCItemMgt
    STDMETHODIMP AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                          HRESULT** ppErrors) override {
        *ppAddResults = nullptr;
        *ppErrors = nullptr;
        CHECK_IN(SameDefs(dwCount, pItemArray));
        RETURN_IF_FAILED(ResultsOut(ppAddResults));
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                               OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override {
        *ppValidationResults = nullptr;
        *ppErrors = nullptr;
        CHECK_IN(SameDefs(dwCount, pItemArray));
        CHECK_IN(bBlobUpdate == TRUE);
        RETURN_IF_FAILED(ResultsOut(ppValidationResults));
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        CHECK_IN(bActive == FALSE);
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                  HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        CHECK_IN(SameArray(phClient, dwCount, ClientItems()));
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                              HRESULT** ppErrors) override {
        *ppErrors = nullptr;
        CHECK_IN(SameArray(phServer, dwCount, ServerItems()));
        CHECK_IN(
            SameArray<VARTYPE>(pRequestedDatatypes, dwCount, {VT_I4, VT_BSTR, VT_ARRAY | VT_R8}));
        return ErrorsOut(ItemErrors(), ppErrors);
    }
    STDMETHODIMP CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override {
        *ppUnk = nullptr;
        if (riid != IID_IEnumOPCItemAttributes) return E_NOINTERFACE;
        return com::CreateInstance<ItemAttributesEnum>(nullptr, riid,
                                                       reinterpret_cast<void**>(ppUnk));
    }

private:
    using ValuesCallback = HRESULT (STDMETHODCALLTYPE IOPCDataCallback::*)(DWORD, OPCHANDLE,
                                                                           HRESULT, HRESULT, DWORD,
                                                                           OPCHANDLE*, VARIANT*,
                                                                           WORD*, FILETIME*,
                                                                           HRESULT*);
    void SendValues(ValuesCallback callback) {
        auto clients = ClientItems();
        auto qualities = Qualities();
        auto times = TimeStamps();
        auto errors = ItemErrors();
        std::vector<VARIANT> values;
        auto owned = ReadValues();
        for (auto& v : owned) values.push_back(*v.get());
        for (auto& sink : callback_->Sinks<IOPCDataCallback>())
            (sink.get()->*callback)(kTransaction, kClientGroup, S_FALSE, S_FALSE,
                                    static_cast<DWORD>(values.size()), clients.data(),
                                    values.data(), qualities.data(), times.data(), errors.data());
    }

    mutable com::CriticalSection lock_;  // guards name_
    std::wstring name_;
    bool public_ = false;
    bool enabled_ = true;
    com::ConnectionPoint* callback_;
};

class CServer : public com::Object<IOPCServer, IOPCCommon, IOPCServerPublicGroups,
                                   IOPCBrowseServerAddressSpace, IOPCItemProperties, IOPCServerList,
                                   IOPCServerList2, com::ConnectionPointContainer> {
public:
    CServer() { shutdown_ = &AddConnectionPoint(IID_IOPCShutdown); }

    // IOPCServer
    STDMETHODIMP AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                          OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                          DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                          REFIID riid, LPUNKNOWN* ppUnk) override {
        *ppUnk = nullptr;
        const bool withoutPointers = SameString(szName, kNullPointerGroup);
        CHECK_IN(withoutPointers || SameString(szName, kGroupName));
        CHECK_IN(bActive == TRUE && dwRequestedUpdateRate == kRequestedRate);
        CHECK_IN(hClientGroup == kClientGroup && dwLCID == kLcid);
        if (withoutPointers) {
            CHECK_IN(!pTimeBias && !pPercentDeadband);
        } else {
            CHECK_IN(pTimeBias && *pTimeBias == kTimeBias);
            CHECK_IN(pPercentDeadband && *pPercentDeadband == kDeadband);
        }
        com::ComPtr<CGroup> group;
        RETURN_IF_FAILED(com::MakeObject(&group, szName));
        RETURN_IF_FAILED(group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk)));
        {
            com::CsLock guard(lock_);
            groups_.push_back(group);
        }
        *phServerGroup = kServerGroup;
        *pRevisedUpdateRate = kRevisedRate;
        return S_OK;
    }
    STDMETHODIMP GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override {
        *ppString = nullptr;
        CHECK_IN(dwLocale == kLcid);
        CHECK_IN(dwError == OPC_E_INVALIDHANDLE || dwError == E_FAIL);
        return com::CoTaskMemString(dwError == E_FAIL ? LongText() : kServerErrorText, ppString);
    }
    STDMETHODIMP GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override {
        *ppUnk = nullptr;
        com::ComPtr<CGroup> group = FindGroup(szName);
        if (!group) return E_INVALIDARG;
        return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    }
    STDMETHODIMP GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
        *ppServerStatus = nullptr;
        com::CoTaskMem<OPCSERVERSTATUS> status;
        RETURN_HR_IF(E_OUTOFMEMORY, !status.alloc(1));
        status[0].ftStartTime = TimeStamps()[0];
        status[0].ftCurrentTime = TimeStamps()[2];
        status[0].ftLastUpdateTime = TimeStamps()[1];
        status[0].dwServerState = OPC_STATUS_SUSPENDED;
        status[0].dwGroupCount = 0x10002;
        status[0].dwBandWidth = 0xFFFFFFFF;
        status[0].wMajorVersion = 1;
        status[0].wMinorVersion = 5;
        status[0].wBuildNumber = 27;
        RETURN_IF_FAILED(com::CoTaskMemString(kVendor, &status[0].szVendorInfo));
        *ppServerStatus = status.release();
        return S_OK;
    }
    STDMETHODIMP RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
        CHECK_IN(hServerGroup == kServerGroup && bForce == TRUE);
        return OPC_S_INUSE;
    }
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                       LPUNKNOWN* ppUnk) override {
        *ppUnk = nullptr;
        CHECK_IN(dwScope == OPC_ENUM_ALL);
        std::vector<com::ComPtr<CGroup>> groups;
        {
            com::CsLock guard(lock_);
            groups = groups_;
        }
        if (riid == IID_IEnumString) {
            std::vector<std::wstring> names;
            for (auto& group : groups) names.push_back(group->name());
            return com::CreateEnumString(std::move(names), reinterpret_cast<IEnumString**>(ppUnk));
        }
        CHECK_IN(riid == IID_IEnumUnknown);
        std::vector<com::ComPtr<IUnknown>> unknowns;
        for (auto& group : groups) unknowns.push_back(group.try_query<IUnknown>());
        return com::CreateEnumUnknown(std::move(unknowns), reinterpret_cast<IEnumUnknown**>(ppUnk));
    }

    // IOPCCommon
    STDMETHODIMP SetLocaleID(LCID dwLcid) override {
        CHECK_IN(dwLcid == kLcid);
        locale_ = dwLcid;
        return S_OK;
    }
    STDMETHODIMP GetLocaleID(LCID* pdwLcid) override {
        *pdwLcid = locale_;
        return S_OK;
    }
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override {
        *pdwCount = 0;
        RETURN_IF_FAILED(ArrayOut(Locales(), pdwLcid));
        *pdwCount = static_cast<DWORD>(Locales().size());
        return S_OK;
    }
    STDMETHODIMP GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
        *ppString = nullptr;
        CHECK_IN(dwError == OPC_E_BADTYPE);
        return com::CoTaskMemString(kCommonErrorText, ppString);
    }
    // The client asks for a shutdown notice by sending kShutdownTrigger as its name.
    STDMETHODIMP SetClientName(LPCWSTR szName) override {
        if (SameString(szName, kShutdownTrigger)) {
            for (auto& sink : shutdown_->Sinks<IOPCShutdown>())
                sink->ShutdownRequest(kShutdownReason);
            return S_OK;
        }
        CHECK_IN(SameString(szName, kClientName));
        return S_OK;
    }

    // IOPCServerPublicGroups
    STDMETHODIMP GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override {
        return GetGroupByName(szName, riid, ppUnk);
    }
    STDMETHODIMP RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
        CHECK_IN(hServerGroup == kServerGroup && bForce == FALSE);
        return S_OK;
    }

    // IOPCBrowseServerAddressSpace
    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
        *pNameSpaceType = OPC_NS_FLAT;
        return S_OK;
    }
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                      LPCWSTR szString) override {
        if (dwBrowseDirection == OPC_BROWSE_UP) {
            CHECK_IN(SameString(szString, L""));
            return S_OK;
        }
        CHECK_IN(dwBrowseDirection == OPC_BROWSE_TO && SameString(szString, kBrowsePosition));
        return S_OK;
    }
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                  VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                  LPENUMSTRING* ppIEnumString) override {
        *ppIEnumString = nullptr;
        CHECK_IN(dwBrowseFilterType == OPC_FLAT && SameString(szFilterCriteria, kFilter));
        CHECK_IN(vtDataTypeFilter == VT_R4 &&
                 dwAccessRightsFilter == (OPC_READABLE | OPC_WRITEABLE));
        return com::CreateEnumString(BrowseNames(), ppIEnumString);
    }
    STDMETHODIMP GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
        *szItemID = nullptr;
        CHECK_IN(SameString(szItemDataID, kItemDataID));
        return com::CoTaskMemString(kFullItemID, szItemID);
    }
    // No access paths: S_FALSE and no enumerator.
    STDMETHODIMP BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override {
        *ppIEnumString = nullptr;
        CHECK_IN(SameString(szItemID, kFullItemID));
        return S_FALSE;
    }

    // IOPCItemProperties
    STDMETHODIMP QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                          LPWSTR** ppDescriptions,
                                          VARTYPE** ppvtDataTypes) override {
        *pdwCount = 0;
        *ppPropertyIDs = nullptr;
        *ppDescriptions = nullptr;
        *ppvtDataTypes = nullptr;
        CHECK_IN(SameString(szItemID, kFullItemID));
        const auto texts = PropertyDescriptions();
        com::CoTaskMem<LPWSTR> descriptions;
        RETURN_HR_IF(E_OUTOFMEMORY, !descriptions.alloc(texts.size()));
        for (size_t i = 0; i < texts.size(); ++i)
            RETURN_IF_FAILED(com::CoTaskMemString(texts[i], &descriptions[i]));
        RETURN_IF_FAILED(ArrayOut(PropertyIds(), ppPropertyIDs));
        RETURN_IF_FAILED(ArrayOut(PropertyTypes(), ppvtDataTypes));
        *ppDescriptions = descriptions.release();
        *pdwCount = static_cast<DWORD>(texts.size());
        return S_OK;
    }
    STDMETHODIMP GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                   VARIANT** ppvData, HRESULT** ppErrors) override {
        *ppvData = nullptr;
        *ppErrors = nullptr;
        CHECK_IN(SameString(szItemID, kFullItemID));
        CHECK_IN(SameArray(pdwPropertyIDs, dwCount, PropertyIds()));
        auto values = PropertyValues();
        com::CoTaskMem<VARIANT> data;
        RETURN_HR_IF(E_OUTOFMEMORY, !data.alloc(dwCount));
        for (DWORD i = 0; i < dwCount; ++i) data[i] = values[i].release();
        *ppvData = data.release();
        return ErrorsOut(PropertyErrors(), ppErrors);
    }
    STDMETHODIMP LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                               LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override {
        *ppszNewItemIDs = nullptr;
        *ppErrors = nullptr;
        CHECK_IN(SameString(szItemID, kFullItemID));
        CHECK_IN(
            SameArray<DWORD>(pdwPropertyIDs, dwCount, {OPC_PROPERTY_EU_UNITS, OPC_PROPERTY_VALUE}));
        com::CoTaskMem<LPWSTR> ids;
        RETURN_HR_IF(E_OUTOFMEMORY, !ids.alloc(dwCount));
        RETURN_IF_FAILED(com::CoTaskMemString(std::wstring(kFullItemID) + L".EU", &ids[0]));
        *ppszNewItemIDs = ids.release();  // the second stays NULL: that property has no item
        return ErrorsOut({S_OK, OPC_E_INVALID_PID}, ppErrors);
    }

    // IOPCServerList / IOPCServerList2
    STDMETHODIMP EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                         CATID rgcatidReq[], IEnumGUID** ppenumClsid) override {
        *ppenumClsid = nullptr;
        RETURN_IF_FAILED(CheckCategories(cImplemented, rgcatidImpl, cRequired, rgcatidReq));
        return com::CreateInstance<GuidEnum<IEnumGUID>>(
            nullptr, IID_IEnumGUID, reinterpret_cast<void**>(ppenumClsid), ServerClasses(), 0);
    }
    STDMETHODIMP GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                 LPOLESTR* ppszUserType) override {
        *ppszProgID = nullptr;
        *ppszUserType = nullptr;
        CHECK_IN(clsid == kServerClsid);
        RETURN_IF_FAILED(com::CoTaskMemString(kProgID, ppszProgID));
        return com::CoTaskMemString(kUserType, ppszUserType);
    }
    STDMETHODIMP CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) override {
        if (!SameString(szProgId, kProgID) && !SameString(szProgId, kVerIndProgID))
            return CO_E_CLASSSTRING;
        *clsid = kServerClsid;
        return S_OK;
    }
    STDMETHODIMP EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                         CATID rgcatidReq[], IOPCEnumGUID** ppenumClsid) override {
        *ppenumClsid = nullptr;
        RETURN_IF_FAILED(CheckCategories(cImplemented, rgcatidImpl, cRequired, rgcatidReq));
        return com::CreateInstance<GuidEnum<IOPCEnumGUID>>(
            nullptr, IID_IOPCEnumGUID, reinterpret_cast<void**>(ppenumClsid), ServerClasses(), 0);
    }
    STDMETHODIMP GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                                 LPOLESTR* ppszVerIndProgID) override {
        *ppszVerIndProgID = nullptr;
        RETURN_IF_FAILED(GetClassDetails(clsid, ppszProgID, ppszUserType));
        return com::CoTaskMemString(kVerIndProgID, ppszVerIndProgID);
    }

protected:
    void FinalRelease() override { shutdown_->DisconnectAll(); }

private:
    HRESULT CheckCategories(ULONG cImplemented, const CATID* implemented, ULONG cRequired,
                            const CATID* required) {
        CHECK_IN(cImplemented == 2 && implemented);
        CHECK_IN(implemented[0] == CATID_OPCDAServer10 && implemented[1] == CATID_OPCDAServer20);
        CHECK_IN(cRequired == 1 && required && required[0] == CATID_XMLDAServer10);
        return S_OK;
    }

    com::ComPtr<CGroup> FindGroup(LPCWSTR name) {
        com::CsLock guard(lock_);
        for (auto& group : groups_)
            if (SameString(group->name().c_str(), name)) return group;
        return nullptr;
    }

    com::CriticalSection lock_;  // guards groups_
    std::vector<com::ComPtr<CGroup>> groups_;
    LCID locale_ = LOCALE_SYSTEM_DEFAULT;
    com::ConnectionPoint* shutdown_;
};

const bool kRegistered = com::AddClassObject<com::ClassFactory<CServer>>(kServerClsid);

}  // namespace

// Started by COM (-Embedding); ends about a second after its last object is released.
int main() {
    com::ComInitializer com(COINIT_MULTITHREADED);
    if (FAILED(com.hr())) return 1;
    if (FAILED(com::RunLocalServer())) return 2;
    com::Module::Get().RunTermFuncs();
    return 0;
}
