// Device identification: the channel binding, the identification block read into
// the device record's cache, and the identification items of the axis nodes.
// Transfers and model calls run without the object's lock; it is taken only to
// read or change a record and the lists.
#include "CommLog.h"
#include "DeviceRecords.h"
#include "InteractionCore.h"
#include "ModelNodes.h"
#include "Telegram.h"
#include "com/Bstr.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "com/Variant.h"

namespace orvane::interaction {
namespace {

constexpr wchar_t kProfileIdentItem[] = L"DS_MSAC2_Parameter/MA_ProfileIdentNumber";
constexpr wchar_t kChannelParameter[] = L"__SlotI0S47D8209";
constexpr wchar_t kAxisParameter[] = L"__axis";
// An access path that names no bus address: such a device is never asked.
constexpr wchar_t kInternalDevice[] = L"intern";

void Trace(const wchar_t* format, const std::wstring& name) {
    if (CommLog::On()) CommLog::Write(com::Format(format, name.c_str()));
}

}  // namespace

BYTE InteractionCore::NextReference() {
    com::CsLock guard(referenceLock_);
    const BYTE reference = reference_.Current();
    reference_.Advance();
    return reference;
}

std::shared_ptr<DeviceRecord> InteractionCore::FindDevice(const std::wstring& name) const {
    com::CsLock guard(lock_);
    for (const auto& device : devices_) {
        if (device->name == name) return device;
    }
    return nullptr;
}

DeviceRecord InteractionCore::Snapshot(const DeviceRecord& device) const {
    com::CsLock guard(lock_);
    return device;
}

std::wstring InteractionCore::ChannelAddress(const DeviceRecord& device) const {
    if (!device.channel.empty()) return device.channel;
    return AccessPathOf(device.node.get()) + ParSpecific();
}

HRESULT InteractionCore::ReadIdentParameter(const std::wstring& channel, bool async, WORD parameter,
                                            WORD subindex, BYTE elements, std::vector<BYTE>* values,
                                            BYTE* format) {
    TelegramTransfer transfer(transfer_, settings_, async);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    values->clear();
    *format = 0;
    return requests.ReadSingle(*com::UniqueVariant(channel), NextReference(), 0, kAttributeValue,
                               elements, parameter, subindex, values, format, nullptr, nullptr);
}

HRESULT InteractionCore::SendIdentRequest(const std::wstring& channel, bool async,
                                          BYTE byParameters, std::vector<BYTE>* response) {
    const std::vector<BYTE> request = IdentRequest(NextReference(), IdentEntries(byParameters));
    if (CommLog::On()) {
        CommLog::Write(L"  communicate (read multi)");
        CommLog::Write(HexDump(async ? L"    --> BusServer: " : L"  --> BusServer: ", request));
    }
    com::UniqueVariant telegram, quality, timestamp;
    RETURN_IF_FAILED(MakeTelegram(request, telegram.put()));
    TelegramTransfer transfer(transfer_, settings_, async);
    RETURN_IF_FAILED(transfer.Communicate(*com::UniqueVariant(channel), telegram.get(),
                                          quality.put(), timestamp.put(), PollLimit::Read));
    RETURN_IF_FAILED(TelegramBytes(*telegram, response));
    if (CommLog::On())
        CommLog::Write(HexDump(async ? L"    <-- BusServer: " : L"  <-- BusServer: ", *response));
    return response->size() < kHeaderLength ? E_FAIL : S_OK;
}

HRESULT InteractionCore::BindChannel(const std::shared_ptr<DeviceRecord>& device) {
    const DeviceRecord record = Snapshot(*device);
    RETURN_HR_IF(E_POINTER, !record.node);
    const std::wstring accessPath = AccessPathOf(record.node.get());
    // Checked before anything is bound: such a path names no bus-server item.
    if (accessPath == kInternalDevice) {
        com::CsLock guard(lock_);
        device->noBusAccess = true;
        return E_FAIL;
    }
    com::ComPtr<IvkInteraction2> connection;
    {
        com::CsLock guard(lock_);
        connection = m_spVkInteraction;
    }
    RETURN_HR_IF(E_POINTER, !connection);

    // The profile ident item: reading it wakes the slave's channel, 0x3A00 selects
    // the drive profile on it.
    com::ComPtr<VKModelParameter> profile;
    RETURN_IF_FAILED(FindOrCreateParameter(record.node.get(), kProfileIdentItem, &profile));
    const std::wstring profileAddress = accessPath + kProfileIdentItem;
    RETURN_IF_FAILED(SetUpParameter(profile.get(), profileAddress, OPC_READABLE, VT_UI2,
                                    *com::UniqueVariant(), false));
    RETURN_IF_FAILED(BindOnBusServer(connection.get(), profile));
    com::UniqueVariant address(profileAddress), value, quality, timestamp;
    if (SUCCEEDED(connection->Read(*address, value.put(), quality.put(), timestamp.put())))
        VariantChangeType(value.get(), value.get(), 0, VT_I4);
    RETURN_IF_FAILED(connection->Write(*address, *com::UniqueVariant(kAxolentProfileIdent)));

    com::ComPtr<VKModelParameter> channel;
    RETURN_IF_FAILED(FindOrCreateParameter(record.node.get(), kChannelParameter, &channel));
    const std::wstring channelAddress = accessPath + ParSpecific();
    com::UniqueVariant empty;
    RETURN_IF_FAILED(MakeTelegram({0}, empty.put()));
    RETURN_IF_FAILED(channel->Init(com::UniqueBstr(channelAddress).get(),
                                   OPC_READABLE | OPC_WRITEABLE, VT_ARRAY | VT_UI1, *empty));
    if (auto hidden = channel.try_query<VKModelParameter2>()) RETURN_IF_FAILED(hidden->SetFlags(1));
    RETURN_IF_FAILED(BindOnBusServer(connection.get(), channel));
    transfer_.SetProfileItem(channelAddress, profileAddress);
    com::CsLock guard(lock_);
    device->channel = channelAddress;
    return S_OK;
}

HRESULT InteractionCore::EnsureChannel(const std::wstring& deviceName) {
    const auto device = FindDevice(deviceName);
    if (!device) return S_OK;
    const DeviceRecord record = Snapshot(*device);
    if (!record.channel.empty() || record.noBusAccess) return S_OK;
    return BindChannel(device);
}

HRESULT InteractionCore::BindOnBusServer(IvkInteraction2* connection,
                                         const com::ComPtr<VKModelParameter>& parameter) {
    com::ComPtr<IUnknown> replacement;
    VARTYPE addressType = VT_EMPTY;
    RETURN_IF_FAILED(connection->Init(1, parameter.get(), replacement.put(), &addressType));
    com::ComPtr<IUnknown> identity;
    RETURN_IF_FAILED(parameter.query(&identity));
    com::CsLock guard(lock_);
    // Bound again (a second set-up of the device): listed once, terminated once.
    for (const auto& bound : busServerItems_) {
        if (com::IsSameObject(bound.get(), identity.get())) return S_OK;
    }
    busServerItems_.push_back(parameter);
    return S_OK;
}

void InteractionCore::UnbindChannel(const std::shared_ptr<DeviceRecord>& device) {
    const DeviceRecord record = Snapshot(*device);
    com::ComPtr<VKModelParameter> channel;
    if (!record.node || FindParameterIn(record.node.get(), kChannelParameter, &channel) != S_OK)
        return;
    com::ComPtr<IUnknown> identity;
    channel.query(&identity);
    com::ComPtr<IvkInteraction2> connection;
    {
        com::CsLock guard(lock_);
        connection = m_spVkInteraction;
        // Off the list, so that teardown does not end it a second time.
        for (auto it = busServerItems_.begin(); it != busServerItems_.end(); ++it) {
            if (com::IsSameObject(it->get(), identity.get())) {
                busServerItems_.erase(it);
                break;
            }
        }
        device->channel.clear();
    }
    if (connection) connection->Terminate(*com::UniqueVariant(AccessPathOf(channel.get())));
    record.node->DeleteParameter(com::UniqueBstr(kChannelParameter).get());
}

HRESULT InteractionCore::ReadIdentification(const std::shared_ptr<DeviceRecord>& device,
                                            BYTE byParameters, bool async) {
    byParameters &= kIdentGroupAxes | kIdentGroupDevice;
    if (!byParameters) return S_OK;
    const DeviceRecord record = Snapshot(*device);
    if (record.noBusAccess) return E_FAIL;
    Trace(async ? L"  AsyncReadDeviceIdentification(%ls)" : L"  ReadDeviceIdentification(%ls)",
          record.name);
    std::vector<BYTE> response;
    const HRESULT hr = SendIdentRequest(ChannelAddress(record), async, byParameters, &response);
    {
        com::CsLock guard(lock_);
        // A failed request leaves every entry unanswered.
        if (FAILED(hr)) response.clear();
        StoreIdentAnswer(response, byParameters, device.get());
    }
    Trace(async ? L"  AsyncReadDeviceIdentification finished (%ls)"
                : L"  ReadDeviceIdentification finished (%ls)",
          record.name);
    return hr;
}

HRESULT InteractionCore::SetupDevice(const std::shared_ptr<DeviceRecord>& device,
                                     bool readIdentification, bool async) {
    if (Snapshot(*device).noBusAccess) return E_FAIL;
    ReadIdentification(
        device, readIdentification ? kIdentGroupAxes | kIdentGroupDevice : kIdentGroupAxes, async);
    BYTE axes = CheckAxes(device, async);
    if (axes == 0) axes = 1;
    const HRESULT hr = CreateAxes(device, axes, async);
    com::CsLock guard(lock_);
    device->setUp = true;
    return hr;
}

HRESULT InteractionCore::SetupDeviceCommunication(const std::shared_ptr<DeviceRecord>& device,
                                                  bool readIdentification) {
    RETURN_IF_NULL_POINTER(device);
    RETURN_IF_FAILED(BindChannel(device));
    return SetupDevice(device, readIdentification, false);
}

HRESULT InteractionCore::AsyncReadDeviceIdentification(const std::wstring& name,
                                                       BYTE byParameters) {
    const auto device = FindDevice(name);
    RETURN_HR_IF(E_FAIL, !device);
    return ReadIdentification(device, byParameters, true);
}

HRESULT InteractionCore::AsyncSetupDeviceCommunication(const std::wstring& name,
                                                       bool readIdentification) {
    const auto device = FindDevice(name);
    if (!device) return S_OK;
    const HRESULT hr = SetupDevice(device, readIdentification, true);
    return hr == E_FAIL ? hr : S_OK;
}

HRESULT InteractionCore::AsyncIdentifyDevice(const std::wstring& name) {
    const auto device = FindDevice(name);
    RETURN_HR_IF(E_FAIL, !device);
    return Identify(device, true);
}

HRESULT InteractionCore::IdentifyDevice(const std::shared_ptr<DeviceRecord>& device) {
    RETURN_IF_NULL_POINTER(device);
    return Identify(device, false);
}

HRESULT InteractionCore::Identify(const std::shared_ptr<DeviceRecord>& device, bool async) {
    const DeviceRecord record = Snapshot(*device);
    Trace(async ? L"    AsyncIdentifyDevice(%ls)" : L"    IdentifyDevice(%ls)", record.name);
    if (record.noBusAccess) return E_FAIL;
    RETURN_HR_IF(E_POINTER, !record.node);
    const std::wstring channel = ChannelAddress(record);

    DWORD vendor = 0, deviceType = 0, version = 0;
    size_t slot = 0;
    bool error = false;
    if (CachedEntry(record, kEntryIdent, &slot, &error) && !error) {
        vendor = record.cache[slot];
        deviceType = record.cache[slot + 1];
        version = record.cache[slot + 2];
    } else {
        std::vector<BYTE> values;
        BYTE format = 0;
        Trace(L"    read (964,0), (%ls)", record.name);
        HRESULT hr = ReadIdentParameter(channel, async, 964, 0, 5, &values, &format);
        if (FAILED(hr) && async) {
            Trace(L"    read again sync (964,0), (%ls)", record.name);
            hr = ReadIdentParameter(channel, false, 964, 0, 5, &values, &format);
        }
        hr = CheckIdentAnswer(hr, values, format, 5, false);
        if (FAILED(hr)) {
            Trace(L"    read failed (964,0), (%ls)", record.name);
            UnbindChannel(device);
            return hr;
        }
        vendor = AnswerWord(values, 0);
        deviceType = AnswerWord(values, 1);
        version = AnswerWord(values, 2);
    }

    DWORD station = version;
    if (CachedEntry(record, kEntryStation, &slot, &error) && !error) {
        station = record.cache[slot];
    } else {
        std::vector<BYTE> values;
        BYTE format = 0;
        Trace(L"    read (918,0), (%ls)", record.name);
        HRESULT hr = ReadIdentParameter(channel, async, 918, 0, 0, &values, &format);
        if (FAILED(hr)) hr = ReadIdentParameter(channel, async, 918, 0, 1, &values, &format);
        if (SUCCEEDED(CheckIdentAnswer(hr, values, format, 1, false)))
            station = AnswerWord(values, 0);
        else
            Trace(L"    read failed (918,0), (%ls)", record.name);
    }

    com::CsLock model(modelLock_);
    const HRESULT hr = InsertIdentItems(record.node.get(), vendor, deviceType, station);
    if (FAILED(hr) && CommLog::On())
        CommLog::Write(com::Format(L"    identification items failed 0x%08X (%ls)",
                                   static_cast<unsigned>(hr), record.name.c_str()));
    return hr;
}

HRESULT InteractionCore::InsertIdentItems(VKModelObject* device, DWORD vendor, DWORD deviceType,
                                          DWORD station) {
    com::ComPtr<VKModelCollection> children;
    RETURN_IF_FAILED(device->GetObjects(children.put()));
    RETURN_HR_IF(E_POINTER, !children);
    long count = 0;
    RETURN_IF_FAILED(children->GetCount(&count));
    for (long i = 0; i < count; ++i) {
        com::ComPtr<IUnknown> item;
        com::ComPtr<VKModelObject> axis;
        // Children that are no axis (no "__axis") carry no identification items.
        RETURN_IF_FAILED(children->GetItem(i, item.put()));
        RETURN_HR_IF(E_POINTER, !item);
        if (FAILED(item.query(&axis))) continue;
        com::ComPtr<VKModelParameter> number;
        RETURN_IF_FAILED(FindParameterIn(axis.get(), kAxisParameter, &number));
        if (!number) continue;
        RETURN_IF_FAILED(InsertAxisInfo(axis.get(), vendor, deviceType,
                                        DeviceIdText(station, GetAxisNumber(axis.get()))));
    }
    return S_OK;
}

HRESULT InteractionCore::InsertAxisInfo(VKModelObject* axis, DWORD vendor, DWORD deviceType,
                                        const std::wstring& deviceId) {
    Trace(L"    InsertAxisInfo(%ls)", NameOf(axis));
    const struct {
        const wchar_t* name;
        com::UniqueVariant value;
    } items[] = {{L"DS_Vendorname", com::UniqueVariant(static_cast<LONG>(vendor))},
                 {L"DS_Devicename", com::UniqueVariant(static_cast<LONG>(deviceType))},
                 {L"DS_DeviceID", com::UniqueVariant(deviceId)}};
    for (const auto& item : items) {
        com::ComPtr<VKModelParameter> parameter;
        RETURN_IF_FAILED(FindOrCreateParameter(axis, item.name, &parameter));
        RETURN_IF_FAILED(SetUpParameter(parameter.get(), L"internal://" + PathOf(parameter.get()),
                                        OPC_READABLE, item.value.vt(), *item.value, false));
    }
    return S_OK;
}

}  // namespace orvane::interaction
