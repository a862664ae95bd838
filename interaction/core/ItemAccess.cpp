// Items towards the server: creation, read, write and termination of internal,
// pass-through and drive parameter items. The module's lock guards the item lists
// and records only: an operation copies what it needs, sends without the lock (the
// transfer takes its channel's turn) and looks its record up again afterwards.
#include <algorithm>
#include <optional>

#include "CommLog.h"
#include "InteractionCore.h"
#include "ModelNodes.h"
#include "Telegram.h"
#include "ValueCodec.h"
#include "com/Bstr.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "com/Time.h"
#include "com/Variant.h"

namespace orvane::interaction {
namespace {

constexpr wchar_t kProfileIdentItem[] = L"DS_MSAC2_Parameter/MA_ProfileIdentNumber";
constexpr wchar_t kProfileIdentName[] = L"MA_ProfileIdentNumber";
constexpr WORD kQualityGood = 0xC0;

void Trace(const std::wstring& text) {
    if (CommLog::On()) CommLog::Write(text);
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The address of an item call: a non-empty BSTR, else nothing.
bool AddressText(const VARIANT& address, std::wstring* text) {
    if (V_VT(&address) != VT_BSTR || !V_BSTR(&address) || SysStringLen(V_BSTR(&address)) == 0)
        return false;
    text->assign(V_BSTR(&address), SysStringLen(V_BSTR(&address)));
    return true;
}

bool IsInternalIdentName(const std::wstring& name) {
    return name == L"DS_Vendorname" || name == L"DS_Devicename" || name == L"DS_DeviceID";
}

// Requests without a subindex on an unindexed item carry no element count.
BYTE Elements(const DriveParameterRecord& record) {
    return record.subindex == 0 && record.unindexed ? 0 : 1;
}

}  // namespace

bool InteractionCore::nameSpaceChecked() const {
    com::CsLock guard(lock_);
    return nameSpaceChecked_;
}

ItemRecord* InteractionCore::FindRecord(const std::wstring& name) {
    for (ItemRecord& record : records_) {
        if (record.data.name == name) return &record;
    }
    return nullptr;
}

bool InteractionCore::RecordOf(const std::wstring& name, DriveParameterRecord* record) const {
    com::CsLock module(ModuleLock());
    for (const ItemRecord& entry : records_) {
        if (entry.data.name != name) continue;
        *record = entry.data;
        return true;
    }
    return false;
}

size_t InteractionCore::internalItemCount() const {
    com::CsLock module(ModuleLock());
    return internalItems_.size();
}

size_t InteractionCore::passThroughItemCount() const {
    com::CsLock module(ModuleLock());
    return passThroughItems_.size();
}

DWORD InteractionCore::answerTimeout() const {
    com::CsLock module(ModuleLock());
    return settings_.timeoutSeconds;
}

HRESULT InteractionCore::InitItem(IUnknown* pParameter, IUnknown** ppReplacement,
                                  VARTYPE* pvtAddressType) {
    RETURN_HR_IF(E_POINTER, !ppReplacement || !pvtAddressType);
    {
        com::CsLock guard(lock_);
        RETURN_HR_IF(E_FAIL, !m_spVkInteraction);
        RETURN_IF_FAILED(FollowLoadedTree());
    }
    *ppReplacement = nullptr;
    *pvtAddressType = VT_BSTR;
    RETURN_HR_IF(E_NOINTERFACE, !pParameter);
    com::ComPtr<VKModelParameter> parameter;
    RETURN_IF_FAILED(pParameter->QueryInterface(__uuidof(VKModelParameter), parameter.put_void()));
    RETURN_HR_IF(E_NOINTERFACE, !parameter);
    const std::wstring accessPath = AccessPathOf(parameter.get());
    Trace(L"Init item " + Quoted(accessPath));

    std::wstring name;
    switch (ClassifyAddress(accessPath, &name)) {
        case ItemKind::Internal: {
            com::CsLock module(ModuleLock());
            internalItems_.push_back({parameter, name});
            return S_OK;
        }
        case ItemKind::PassThrough: return InitPassThrough(parameter);
        case ItemKind::DriveParameter: {
            com::CsLock module(ModuleLock());
            if (ItemRecord* record = FindRecord(name)) {
                ++record->data.useCount;
                return S_OK;
            }
            break;
        }
        case ItemKind::Unknown: break;
    }

    // A new item: what it is follows from its place in the model.
    const std::wstring path = PathOf(parameter.get());
    ItemPath parts;
    RETURN_HR_IF(E_INVALIDARG, !SplitItemPath(path, &parts));
    ParameterItemName parsed;
    if (SUCCEEDED(ParseParameterItemName(parts.leaf, &parsed)))
        return InitDriveItem(parameter, path, parsed);
    RETURN_HR_IF(E_INVALIDARG, nameSpaceChecked());
    return InitIdentItem(parameter, path);
}

HRESULT InteractionCore::InitPassThrough(const com::ComPtr<VKModelParameter>& parameter) {
    com::ComPtr<IvkInteraction2> connection;
    {
        com::CsLock guard(lock_);
        connection = m_spVkInteraction;
    }
    com::ComPtr<IUnknown> replacement;
    VARTYPE addressType = VT_EMPTY;
    RETURN_IF_FAILED(connection->Init(1, parameter.get(), replacement.put(), &addressType));
    com::CsLock module(ModuleLock());
    passThroughItems_.push_back({parameter, AccessPathOf(parameter.get())});
    return S_OK;
}

HRESULT InteractionCore::InitIdentItem(const com::ComPtr<VKModelParameter>& parameter,
                                       const std::wstring& path) {
    ItemPath parts;
    RETURN_HR_IF(E_INVALIDARG, !SplitItemPath(path, &parts));
    if (parts.leaf == kProfileIdentName) {
        // The bus server's own item of the device, whatever the model path holds.
        com::ComPtr<VKModelObject> model;
        {
            com::CsLock guard(lock_);
            model = m_spObjModel;
        }
        com::ComPtr<VKModelObject> device;
        RETURN_IF_FAILED(FindObjectIn(model.get(), parts.device, &device));
        RETURN_HR_IF(E_INVALIDARG, !device);
        const std::wstring address = AccessPathOf(device.get()) + kProfileIdentItem;
        VARIANT zero;
        VariantInit(&zero);
        V_VT(&zero) = VT_UI2;
        V_UI2(&zero) = 0;
        RETURN_IF_FAILED(
            parameter->Init(com::UniqueBstr(address).get(), OPC_READABLE, VT_UI2, zero));
        RETURN_IF_FAILED(InitPassThrough(parameter));
        // The connection object set the bus server's rights and type; the item stays
        // what it is in the model.
        return parameter->Init(com::UniqueBstr(address).get(), OPC_READABLE, VT_UI2, zero);
    }
    RETURN_HR_IF(E_INVALIDARG, !IsInternalIdentName(parts.leaf));
    com::UniqueVariant value;
    RETURN_IF_FAILED(IdentifiedValue(parameter, parts, value.put()));
    const VARTYPE type = parts.leaf == L"DS_DeviceID" ? VT_BSTR : VT_I4;
    if (value.vt() != type && FAILED(VariantChangeType(value.get(), value.get(), 0, type)))
        RETURN_IF_FAILED(DefaultItemValue(type, value.put()));
    RETURN_IF_FAILED(
        SetUpParameter(parameter.get(), kInternalPrefix + path, OPC_READABLE, type, *value, false));
    com::CsLock module(ModuleLock());
    internalItems_.push_back({parameter, path});
    return S_OK;
}

// The identification value of an identification item made before the namespace
// check: its device is identified now (once), and the value taken from the axis
// node's own parameter. VT_EMPTY when the device cannot be identified.
HRESULT InteractionCore::IdentifiedValue(const com::ComPtr<VKModelParameter>& item,
                                         const ItemPath& parts, VARIANT* value) {
    VariantInit(value);
    if (!modelInitialized()) {
        std::vector<std::wstring> created;
        RETURN_IF_FAILED(InitModel(&created));
    }
    com::ComPtr<VKModelObject> model;
    {
        com::CsLock guard(lock_);
        model = m_spObjModel;
    }
    com::ComPtr<VKModelObject> device;
    RETURN_IF_FAILED(FindObjectIn(model.get(), parts.device, &device));
    RETURN_HR_IF(E_INVALIDARG, !device);
    const auto identified = [&](com::ComPtr<VKModelParameter>* found) {
        com::ComPtr<VKModelObject> axis;
        if (FindObjectIn(model.get(), parts.axis, &axis) != S_OK ||
            FindParameterIn(axis.get(), parts.leaf, found) != S_OK)
            return false;
        // The item itself, made by the server inside the axis node, holds nothing yet.
        return !com::IsSameObject(found->get(), item.get()) ||
               ClassifyAddress(AccessPathOf(found->get()), nullptr) == ItemKind::Internal;
    };
    com::ComPtr<VKModelParameter> source;
    if (!identified(&source)) {
        const auto record = FindDevice(NameOf(device.get()));
        if (!record) return S_OK;
        if (!Snapshot(*record).setUp) SetupDeviceCommunication(record, true);
        IdentifyDevice(record);
        if (!identified(&source)) return S_OK;
    }
    return source->GetValue(value);
}

HRESULT InteractionCore::InitDriveItem(const com::ComPtr<VKModelParameter>& parameter,
                                       const std::wstring& path, const ParameterItemName& name) {
    ItemBinding binding;
    RETURN_IF_FAILED(AddItemPDInfo(path, &binding));
    ItemRecord record;
    record.parameter = parameter;
    record.channel = binding.channel;
    DriveParameterRecord& data = record.data;
    data.name = path;
    data.unindexed = name.unindexed;
    data.vt = name.vt;
    data.parameter = name.parameter;
    data.subindex = name.subindex;
    data.axis = binding.axis;
    data.useCount = 1;
    // A drive that answers 0 for a limit has the profile's.
    data.maxParameterRequests =
        binding.limits.maxParRequests ? static_cast<WORD>(binding.limits.maxParRequests) : 40;
    data.maxBlockLength =
        binding.limits.maxBlockLength ? static_cast<WORD>(binding.limits.maxBlockLength) : 240;
    data.maxLatency = static_cast<WORD>(binding.limits.maxLatency);

    long rights = OPC_READABLE | OPC_WRITEABLE;
    com::UniqueVariant initial;
    if (settings_.testAtItemCreate & 1) {
        {
            com::CsLock module(ModuleLock());
            RETURN_IF_FAILED(ResolveChannel(record));
        }
        const com::UniqueVariant channel(AccessPathOf(record.channel.get()));
        TelegramTransfer transfer(transfer_, settings_, false);
        CommLogTrace trace;
        ParameterChannel requests(transfer, &trace);
        std::vector<BYTE> values;
        BYTE format = 0;
        RETURN_IF_FAILED(requests.ReadSingle(*channel, NextReference(), data.axis, kAttributeValue,
                                             Elements(data), data.parameter, data.subindex, &values,
                                             &format, nullptr, nullptr));
        data.dataType = ResolveFormat(format, data.vt);
        if (data.vt != (VT_ARRAY | VT_UI1))
            data.valueLength = static_cast<BYTE>(std::min<size_t>(values.size(), 0xFF));
        RETURN_IF_FAILED(BytesToVariant(data.dataType, data.vt, values.size(), values.data(),
                                        initial.put(), data.valueLength));
        if (settings_.testAtItemCreate & 2) {
            // Writing the value just read back tells whether the drive takes changes.
            std::vector<BYTE> bytes;
            HRESULT hr = VariantToBytes(data.dataType, *initial, &bytes);
            if (SUCCEEDED(hr))
                hr = requests.WriteSingle(*channel, NextReference(), data.axis, kAttributeValue,
                                          Elements(data), data.parameter, data.subindex, bytes,
                                          data.dataType);
            if (FAILED(hr)) rights = OPC_READABLE;
        }
    } else {
        RETURN_IF_FAILED(DataTypeForVarType(data.vt, &data.dataType));
        RETURN_IF_FAILED(DefaultItemValue(data.vt, initial.put()));
    }

    RETURN_IF_FAILED(parameter->Init(com::UniqueBstr(kDriveParameterPrefix + path).get(), rights,
                                     data.vt, *initial));
    com::CsLock module(ModuleLock());
    settings_.timeoutSeconds = AnswerTimeoutFor(settings_.timeoutSeconds, data.maxLatency);
    // Another thread may have made the same item while this one asked the drive.
    if (ItemRecord* made = FindRecord(path)) {
        ++made->data.useCount;
        return S_OK;
    }
    records_.push_back(std::move(record));
    return S_OK;
}

HRESULT InteractionCore::ResolveChannel(ItemRecord& record) {
    if (record.channel) return S_OK;
    // The axis of a drive that was off the bus at creation may exist by now.
    ItemBinding binding;
    RETURN_IF_FAILED(AddItemPDInfo(record.data.name, &binding));
    RETURN_HR_IF(E_FAIL, !binding.channel);
    record.channel = binding.channel;
    record.data.axis = binding.axis;
    if (binding.limits.maxParRequests)
        record.data.maxParameterRequests = static_cast<WORD>(binding.limits.maxParRequests);
    if (binding.limits.maxBlockLength)
        record.data.maxBlockLength = static_cast<WORD>(binding.limits.maxBlockLength);
    record.data.maxLatency = static_cast<WORD>(binding.limits.maxLatency);
    return S_OK;
}

HRESULT InteractionCore::CopyRecord(const std::wstring& name, RecordCopy* copy) {
    com::CsLock module(ModuleLock());
    ItemRecord* record = FindRecord(name);
    RETURN_HR_IF(E_INVALIDARG, !record);
    RETURN_IF_FAILED(ResolveChannel(*record));
    copy->data = record->data;
    copy->channel = AccessPathOf(record->channel.get());
    return S_OK;
}

HRESULT InteractionCore::ReadItem(const VARIANT& address, VARIANT* value, VARIANT* quality,
                                  VARIANT* timestamp, IOPCOVI_AsyncIdent* ident) {
    RETURN_IF_NULL_POINTER(value);
    VariantInit(value);
    if (quality) VariantInit(quality);
    if (timestamp) VariantInit(timestamp);
    com::ComPtr<IvkInteraction2> connection;
    {
        com::CsLock guard(lock_);
        connection = m_spVkInteraction;
    }
    RETURN_HR_IF(E_POINTER, !connection);
    std::wstring text, name;
    const ItemKind kind =
        AddressText(address, &text) ? ClassifyAddress(text, &name) : ItemKind::Unknown;
    // Before the lock: the check's identification workers make synchronous reads,
    // which need it.
    if ((kind == ItemKind::Internal || kind == ItemKind::PassThrough) && !nameSpaceChecked()) {
        long checked = 0;
        CheckNameSpace(&checked, ident);
    }

    Trace(L"Read item " + Quoted(text));
    HRESULT hr = E_INVALIDARG;
    switch (kind) {
        case ItemKind::Internal: {
            com::CsLock module(ModuleLock());
            const auto found =
                std::find_if(internalItems_.begin(), internalItems_.end(),
                             [&](const InternalItem& item) { return item.name == name; });
            if (found == internalItems_.end()) return E_INVALIDARG;
            RETURN_IF_FAILED(found->parameter->GetValue(value));
            if (quality) {
                V_VT(quality) = VT_I2;
                V_I2(quality) = static_cast<SHORT>(kQualityGood);
            }
            if (timestamp) {
                V_VT(timestamp) = VT_DATE;
                V_DATE(timestamp) = com::NowUtcDate();
            }
            hr = S_OK;
            break;
        }
        case ItemKind::PassThrough:
            hr = connection->Read(address, value, quality, timestamp);
            break;
        case ItemKind::DriveParameter: hr = ReadDriveItem(name, value, quality, timestamp); break;
        case ItemKind::Unknown: return E_INVALIDARG;
    }
    if (CommLog::On() && SUCCEEDED(hr))
        CommLog::Write(L"Read result = " + ValueText(*value) + L" (item " + Quoted(text) + L")");
    return hr;
}

HRESULT InteractionCore::ReadDriveItem(const std::wstring& name, VARIANT* value, VARIANT* quality,
                                       VARIANT* timestamp) {
    RecordCopy record;
    RETURN_IF_FAILED(CopyRecord(name, &record));
    return ReadRecord(record, value, quality, timestamp);
}

HRESULT InteractionCore::ReadRecord(const RecordCopy& record, VARIANT* value, VARIANT* quality,
                                    VARIANT* timestamp) {
    const DriveParameterRecord& data = record.data;
    const com::UniqueVariant channel(record.channel);
    TelegramTransfer transfer(transfer_, settings_, false);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    std::vector<BYTE> values;
    BYTE format = 0;
    RETURN_IF_FAILED(requests.ReadSingle(*channel, NextReference(), data.axis, kAttributeValue,
                                         Elements(data), data.parameter, data.subindex, &values,
                                         &format, quality, timestamp));
    const BYTE dataType = ResolveFormat(format, data.vt);
    {
        com::CsLock module(ModuleLock());
        if (ItemRecord* current = FindRecord(data.name)) current->data.dataType = dataType;
    }
    return BytesToVariant(dataType, data.vt, values.size(), values.data(), value, data.valueLength);
}

HRESULT InteractionCore::WriteItem(const VARIANT& address, const VARIANT& value) {
    com::ComPtr<IvkInteraction2> connection;
    {
        com::CsLock guard(lock_);
        connection = m_spVkInteraction;
    }
    RETURN_HR_IF(E_FAIL, !connection);
    std::wstring text, name;
    const ItemKind kind =
        AddressText(address, &text) ? ClassifyAddress(text, &name) : ItemKind::Unknown;
    if (CommLog::On())
        CommLog::Write(L"Write item " + Quoted(text) + L", value = " + ValueText(value));
    switch (kind) {
        case ItemKind::Internal: {
            com::CsLock module(ModuleLock());
            for (InternalItem& item : internalItems_) {
                if (item.name == name) item.parameter->SetValue(value);
            }
            return S_OK;
        }
        case ItemKind::PassThrough: return connection->Write(address, value);
        case ItemKind::DriveParameter: {
            const HRESULT hr = WriteDriveItem(name, value);
            if (CommLog::On())
                CommLog::Write(com::Format(L"Write result = 0x%08X (item %ls)",
                                           static_cast<unsigned>(hr), text.c_str()));
            return hr;
        }
        case ItemKind::Unknown: break;
    }
    return E_INVALIDARG;
}

HRESULT InteractionCore::WriteDriveItem(const std::wstring& name, const VARIANT& value) {
    RecordCopy record;
    RETURN_IF_FAILED(CopyRecord(name, &record));
    std::vector<BYTE> bytes;
    RETURN_IF_FAILED(VariantToBytes(record.data.dataType, value, &bytes));
    return WriteRecord(record, bytes);
}

HRESULT InteractionCore::WriteRecord(const RecordCopy& record, const std::vector<BYTE>& bytes) {
    const DriveParameterRecord& data = record.data;
    const com::UniqueVariant channel(record.channel);
    TelegramTransfer transfer(transfer_, settings_, false);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    return requests.WriteSingle(*channel, NextReference(), data.axis, kAttributeValue,
                                Elements(data), data.parameter, data.subindex, bytes,
                                data.dataType);
}

HRESULT InteractionCore::TerminateItem(const VARIANT& address) {
    std::optional<com::CsLock> module(ModuleLock());
    std::wstring text, name;
    if (!AddressText(address, &text)) return E_INVALIDARG;
    Trace(L"Terminate item " + Quoted(text));
    switch (ClassifyAddress(text, &name)) {
        case ItemKind::Internal: {
            const auto found =
                std::find_if(internalItems_.begin(), internalItems_.end(),
                             [&](const InternalItem& item) { return item.name == name; });
            if (found == internalItems_.end()) return E_INVALIDARG;
            internalItems_.erase(found);
            return S_OK;
        }
        case ItemKind::PassThrough: {
            const auto found =
                std::find_if(passThroughItems_.begin(), passThroughItems_.end(),
                             [&](const PassThroughItem& item) { return item.address == text; });
            if (found == passThroughItems_.end()) return E_INVALIDARG;
            passThroughItems_.erase(found);
            module.reset();  // the bus-server call goes without it
            com::ComPtr<IvkInteraction2> connection;
            {
                com::CsLock guard(lock_);
                connection = m_spVkInteraction;
            }
            if (connection) connection->Terminate(address);
            return S_OK;
        }
        case ItemKind::DriveParameter: {
            const auto found =
                std::find_if(records_.begin(), records_.end(),
                             [&](const ItemRecord& record) { return record.data.name == name; });
            if (found == records_.end()) return E_INVALIDARG;
            if (--found->data.useCount == 0) records_.erase(found);
            return S_OK;
        }
        case ItemKind::Unknown: break;
    }
    return E_INVALIDARG;
}

}  // namespace orvane::interaction
