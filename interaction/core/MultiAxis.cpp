// Multi-axis devices: the number of axes, the axis walk over parameter 978, the
// axis nodes with their hidden parameters, and the binding data of an item.
#include "CommLog.h"
#include "DeviceRecords.h"
#include "InteractionCore.h"
#include "ItemName.h"
#include "ModelNodes.h"
#include "Telegram.h"
#include "com/Bstr.h"
#include "com/Result.h"
#include "com/Strings.h"
#include "com/Variant.h"

namespace orvane::interaction {
namespace {

constexpr wchar_t kChannelParameter[] = L"__SlotI0S47D8209";
constexpr wchar_t kAxisParameter[] = L"__axis";
constexpr wchar_t kMaxParRequests[] = L"__P974_Max_Par_Requests";
constexpr wchar_t kMaxBlockLength[] = L"__P974_Max_Block_Length";
constexpr wchar_t kMaxLatency[] = L"__P974_Max_Latency";
// Two zeros in the axis list end it.
constexpr size_t kMaxSkippedAxes = 2;

void Trace(const std::wstring& text) {
    if (CommLog::On()) CommLog::Write(text);
}

HRESULT SetHiddenValue(VKModelObject* node, const wchar_t* name, const std::wstring& accessPath,
                       const VARIANT& value) {
    com::ComPtr<VKModelParameter> parameter;
    RETURN_IF_FAILED(FindOrCreateParameter(node, name, &parameter));
    return SetUpParameter(parameter.get(), accessPath, OPC_READABLE, V_VT(&value), value, true);
}

HRESULT ReadLong(VKModelObject* node, const wchar_t* name, long* value) {
    com::UniqueVariant read;
    RETURN_IF_FAILED(ParameterValueIn(node, name, read.put()));
    RETURN_IF_FAILED(VariantChangeType(read.get(), read.get(), 0, VT_I4));
    *value = V_I4(read.get());
    return S_OK;
}

}  // namespace

BYTE InteractionCore::CheckAxes(const std::shared_ptr<DeviceRecord>& device, bool async) {
    const DeviceRecord record = Snapshot(*device);
    Trace(com::Format(async ? L"    AsyncCheckDeviceForMultipleAxis(%ls)"
                            : L"    CheckDeviceForMultipleAxis(%ls)",
                      record.name.c_str()));
    if (record.noBusAccess) return 0;
    size_t slot = 0;
    bool error = false;
    if (CachedEntry(record, kEntryAxisCount, &slot, &error))
        return error ? 0 : static_cast<BYTE>(record.cache[slot]);
    Trace(com::Format(L"    read (964,5), (%ls)", record.name.c_str()));
    std::vector<BYTE> values;
    BYTE format = 0;
    const HRESULT hr =
        ReadIdentParameter(ChannelAddress(record), async, 964, 5, 1, &values, &format);
    if (FAILED(CheckIdentAnswer(hr, values, format, 1, false))) {
        Trace(com::Format(L"    read failed (964,5), (%ls)", record.name.c_str()));
        return 0;
    }
    return values[1];
}

HRESULT InteractionCore::ReadLimits(const std::shared_ptr<DeviceRecord>& device, bool async,
                                    WORD* blockLength, WORD* parRequests, WORD* latency) {
    RETURN_HR_IF(E_INVALIDARG, !blockLength || !parRequests || !latency);
    const DeviceRecord record = Snapshot(*device);
    RETURN_HR_IF(E_FAIL, record.noBusAccess);
    size_t slot = 0;
    bool error = false;
    if (CachedEntry(record, kEntryLimits, &slot, &error)) {
        if (!error) {
            *blockLength = static_cast<WORD>(record.cache[slot]);
            *parRequests = static_cast<WORD>(record.cache[slot + 1]);
            *latency = static_cast<WORD>(record.cache[slot + 2]);
        }
        return S_OK;
    }
    // Only the asynchronous read is logged.
    if (async) Trace(com::Format(L"    read (974,0), (%ls)", record.name.c_str()));
    std::vector<BYTE> values;
    BYTE format = 0;
    HRESULT hr = ReadIdentParameter(ChannelAddress(record), async, 974, 0, 3, &values, &format);
    hr = CheckIdentAnswer(hr, values, format, 3, false);
    if (FAILED(hr)) {
        if (async) Trace(com::Format(L"    read failed (974,0), (%ls)", record.name.c_str()));
        return hr;
    }
    *blockLength = AnswerWord(values, 0);
    *parRequests = AnswerWord(values, 1);
    *latency = AnswerWord(values, 2);
    return S_OK;
}

HRESULT InteractionCore::CreateAxes(const std::shared_ptr<DeviceRecord>& device, BYTE axes,
                                    bool async) {
    const DeviceRecord record = Snapshot(*device);
    Trace(com::Format(
        async ? L"    AsyncSetDeviceToMultipleAxis(%ls)" : L"    SetDeviceToMultipleAxis(%ls)",
        record.name.c_str()));
    RETURN_HR_IF(E_FAIL, record.noBusAccess);
    RETURN_HR_IF(E_POINTER, !record.node);
    WORD blockLength = 240, parRequests = 40, latency = 0;
    ReadLimits(device, async, &blockLength, &parRequests, &latency);
    const AxisLimits limits{blockLength, parRequests, latency};
    const std::wstring channel = ChannelAddress(record);

    bool axisListUsable = true;
    size_t skipped = 0;
    for (size_t i = 0; i < axes + skipped; ++i) {
        // Past the list (or without one) the axes count 1, 2, ...
        BYTE number = static_cast<BYTE>(i + 1);
        size_t slot = 0;
        bool error = false;
        if (axisListUsable && i == 0 && CachedEntry(record, kEntryFirstAxis, &slot, &error)) {
            if (error)
                axisListUsable = false;
            else
                number = static_cast<BYTE>(record.cache[slot]);
        } else if (axisListUsable) {
            const int index = static_cast<int>(i);
            Trace(com::Format(L"    read (978,%d), (%ls)", index, record.name.c_str()));
            std::vector<BYTE> values;
            BYTE format = 0;
            HRESULT hr =
                ReadIdentParameter(channel, async, 978, static_cast<WORD>(i), 1, &values, &format);
            if (FAILED(hr))
                Trace(com::Format(L"    read failed (978,%d), (%ls)", index, record.name.c_str()));
            if (SUCCEEDED(CheckIdentAnswer(hr, values, format, 1, true)))
                number = values[0];
            else
                axisListUsable = false;
        }
        if (number == 0) {
            if (++skipped == kMaxSkippedAxes) break;
            continue;
        }
        HRESULT hr;
        {
            com::CsLock model(modelLock_);
            hr = InsertNewAxis(record.node.get(), number, com::Format(L"%u", number), limits,
                               channel);
        }
        if (FAILED(hr)) {
            Trace(com::Format(L"    InsertNewAxis failed 0x%08X (%ls)", static_cast<unsigned>(hr),
                              record.name.c_str()));
            return hr;
        }
    }
    return S_OK;
}

HRESULT InteractionCore::InsertNewAxis(VKModelObject* device, BYTE axisNumber,
                                       const std::wstring& name, const AxisLimits& limits,
                                       const std::wstring& channel) {
    Trace(com::Format(L"    InsertNewAxis(%ls, %d)", name.c_str(), axisNumber));
    com::ComPtr<VKModelObject> axis;
    RETURN_IF_FAILED(FindOrCreateObject(device, name, &axis));
    RETURN_IF_FAILED(WriteP974(axis.get(), limits));

    // The axis's entry to the device's channel: bound on the bus server once, in
    // the device node; this one only carries the address.
    com::ComPtr<VKModelParameter> entry;
    RETURN_IF_FAILED(FindOrCreateParameter(axis.get(), kChannelParameter, &entry));
    com::UniqueVariant oneByte;
    RETURN_IF_FAILED(MakeTelegram({0}, oneByte.put()));
    RETURN_IF_FAILED(SetUpParameter(entry.get(), channel, OPC_READABLE | OPC_WRITEABLE,
                                    VT_ARRAY | VT_UI1, *oneByte, true));

    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_UI1;
    V_UI1(&number) = axisNumber;
    return SetHiddenValue(axis.get(), kAxisParameter, L"internal://", number);
}

HRESULT InteractionCore::WriteP974(VKModelObject* axis, const AxisLimits& limits) {
    const struct {
        const wchar_t* name;
        long value;
    } values[] = {{kMaxParRequests, limits.maxParRequests},
                  {kMaxBlockLength, limits.maxBlockLength},
                  {kMaxLatency, limits.maxLatency}};
    const std::wstring base = L"internal://";
    for (const auto& value : values) {
        com::ComPtr<VKModelParameter> parameter;
        RETURN_IF_FAILED(FindOrCreateParameter(axis, value.name, &parameter));
        RETURN_IF_FAILED(SetUpParameter(parameter.get(), base + PathOf(parameter.get()),
                                        OPC_READABLE, VT_I4, *com::UniqueVariant(value.value),
                                        true));
    }
    return S_OK;
}

HRESULT InteractionCore::GetP974(VKModelObject* axis, AxisLimits* limits) {
    RETURN_IF_NULL_POINTER(limits);
    RETURN_IF_FAILED(ReadLong(axis, kMaxParRequests, &limits->maxParRequests));
    RETURN_IF_FAILED(ReadLong(axis, kMaxBlockLength, &limits->maxBlockLength));
    return ReadLong(axis, kMaxLatency, &limits->maxLatency);
}

BYTE InteractionCore::GetAxisNumber(VKModelObject* node) {
    long number = 0;
    return SUCCEEDED(ReadLong(node, kAxisParameter, &number)) ? static_cast<BYTE>(number) : 0;
}

HRESULT InteractionCore::AddItemPDInfo(const std::wstring& itemName, ItemBinding* binding) {
    RETURN_IF_NULL_POINTER(binding);
    Trace(L"AddItemPDInfo(" + itemName + L")");
    if (!modelInitialized()) {
        std::vector<std::wstring> created;
        RETURN_IF_FAILED(InitModel(&created));
    }
    com::ComPtr<VKModelObject> model;
    bool checked = false;
    {
        com::CsLock guard(lock_);
        model = m_spObjModel;
        checked = nameSpaceChecked_;
    }
    RETURN_HR_IF(E_POINTER, !model);
    // By the path: an item the server created in the root has the root as parent.
    ItemPath parts;
    RETURN_HR_IF(E_INVALIDARG, !SplitItemPath(itemName, &parts));
    com::ComPtr<VKModelObject> device;
    RETURN_IF_FAILED(FindObjectIn(model.get(), parts.device, &device));
    RETURN_HR_IF(E_INVALIDARG, !device);

    com::ComPtr<VKModelObject> axis;
    com::ComPtr<VKModelParameter> channel;
    const auto findChannel = [&]() -> HRESULT {
        RETURN_IF_FAILED(FindObjectIn(model.get(), parts.axis, &axis));
        return axis ? FindParameterIn(axis.get(), kChannelParameter, &channel) : S_OK;
    };
    RETURN_IF_FAILED(findChannel());
    if (!channel && !checked) {
        // Before the first namespace check: set the item's device up now.
        if (const auto record = FindDevice(NameOf(device.get())))
            SetupDeviceCommunication(record, false);
        RETURN_IF_FAILED(findChannel());
    }
    if (!channel) return S_OK;
    RETURN_IF_FAILED(EnsureChannel(NameOf(device.get())));
    binding->channel = channel;
    RETURN_IF_FAILED(GetP974(axis.get(), &binding->limits));
    binding->axis = GetAxisNumber(axis.get());
    return S_OK;
}

}  // namespace orvane::interaction
