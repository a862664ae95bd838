// The state and work of one interaction object behind its COM interfaces: the
// settings, the object model with the bus-server node, the bus-server connection
// object used for all parameter traffic, the direct connection used for browsing,
// the connection count and the device list.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "BusTransfer.h"
#include "DescriptionTable.h"
#include "DeviceRecords.h"
#include "DriveParameterRecord.h"
#include "ItemName.h"
#include "PropertyCodec.h"
#include "RequestReference.h"
#include "Settings.h"
#include "com/ComPtr.h"
#include "com/Sync.h"
#include "opc.h"
#include "vkmodel.h"
#include "ovi_custom.h"
#include "vkopcinteraction.h"

namespace orvane::interaction {

struct BulkLane;  // BulkAccess.cpp
struct ItemRead;

// What an item needs for its requests: its axis's channel entry, the drive's limits
// and the axis number. The channel stays empty for an item of an unidentified device.
struct ItemBinding {
    com::ComPtr<VKModelParameter> channel;
    AxisLimits limits;
    BYTE axis = 0;
};

// A drive parameter record with the objects it holds.
struct ItemRecord {
    DriveParameterRecord data;
    com::ComPtr<VKModelParameter> parameter;
    com::ComPtr<VKModelParameter> channel;  // empty until the item's axis is known
};

// What one request needs of a record: a copy of its fields and its channel's
// bus-server address, taken under the module's lock and used after it.
struct RecordCopy {
    DriveParameterRecord data;
    std::wstring channel;
};

// An internal item: a value kept in a model parameter.
struct InternalItem {
    com::ComPtr<VKModelParameter> parameter;
    std::wstring name;  // the address after "internal://"
};

// A pass-through item: an item of the bus server, bound on the connection object.
struct PassThroughItem {
    com::ComPtr<VKModelParameter> parameter;
    std::wstring address;
};

class InteractionCore {
public:
    // Reads the settings (and sets up the process-wide log) from root\key; the model
    // set-up reads the bus-server choice from the same key.
    explicit InteractionCore(HKEY root = HKEY_LOCAL_MACHINE, std::wstring key = kSettingsKey);
    ~InteractionCore();
    InteractionCore(const InteractionCore&) = delete;
    InteractionCore& operator=(const InteractionCore&) = delete;

    // The model root; the first call sets the model and the connections up. Every
    // success counts one connection.
    HRESULT GetModel(IUnknown** ppUnkModelRoot);
    // Balances one GetModel; the last one tears the item and device lists down.
    HRESULT ReleaseConnections();

    // Device discovery on the direct connection: creates one node per device under
    // the bus-server node and rebuilds the device list. `created` receives the names
    // of the nodes made; the device list is rebuilt from the bus-server node's children.
    HRESULT InitModel(std::vector<std::wstring>* created);
    // The same on a given browse interface.
    HRESULT DiscoverDevices(IOPCBrowseServerAddressSpace* browse,
                            std::vector<std::wstring>* created);

    // The first check discovers the devices, binds their channels and identifies them
    // all at once, one worker per device calling back through `ident` (no workers
    // without it); later checks answer at once. *plChecked becomes 1.
    HRESULT CheckNameSpace(long* plChecked, IOPCOVI_AsyncIdent* ident = nullptr);

    // IOPCOVI_AsyncIdent: the device is named by its node's name.
    HRESULT AsyncReadDeviceIdentification(const std::wstring& name, BYTE byParameters);
    HRESULT AsyncSetupDeviceCommunication(const std::wstring& name, bool readIdentification);
    HRESULT AsyncIdentifyDevice(const std::wstring& name);

    // The synchronous twins, on a device record.
    HRESULT SetupDeviceCommunication(const std::shared_ptr<DeviceRecord>& device,
                                     bool readIdentification);
    HRESULT ReadDeviceIdentification(const std::shared_ptr<DeviceRecord>& device,
                                     BYTE byParameters) {
        return ReadIdentification(device, byParameters, false);
    }
    HRESULT IdentifyDevice(const std::shared_ptr<DeviceRecord>& device);

    // Axes of a device (0 when it cannot be told).
    BYTE CheckDeviceForMultipleAxis(const std::shared_ptr<DeviceRecord>& device) {
        return CheckAxes(device, false);
    }
    BYTE AsyncCheckDeviceForMultipleAxis(const std::shared_ptr<DeviceRecord>& device) {
        return CheckAxes(device, true);
    }
    // The axis nodes, one per axis, named after the axis numbers of 978.
    HRESULT SetDeviceToMultipleAxis(const std::shared_ptr<DeviceRecord>& device, BYTE axes) {
        return CreateAxes(device, axes, false);
    }
    HRESULT AsyncSetDeviceToMultipleAxis(const std::shared_ptr<DeviceRecord>& device, BYTE axes) {
        return CreateAxes(device, axes, true);
    }
    // 974: block length, parameters per request, latency; unchanged when unreadable.
    HRESULT ReadP974(const std::shared_ptr<DeviceRecord>& device, WORD* blockLength,
                     WORD* parRequests, WORD* latency) {
        return ReadLimits(device, false, blockLength, parRequests, latency);
    }
    HRESULT AsyncReadP974(const std::shared_ptr<DeviceRecord>& device, WORD* blockLength,
                          WORD* parRequests, WORD* latency) {
        return ReadLimits(device, true, blockLength, parRequests, latency);
    }
    HRESULT InsertNewAxis(VKModelObject* device, BYTE axisNumber, const std::wstring& name,
                          const AxisLimits& limits, const std::wstring& channel);
    HRESULT WriteP974(VKModelObject* axis, const AxisLimits& limits);
    HRESULT GetP974(VKModelObject* axis, AxisLimits* limits);
    BYTE GetAxisNumber(VKModelObject* node);
    // The binding of the model item `itemName` (a model path).
    HRESULT AddItemPDInfo(const std::wstring& itemName, ItemBinding* binding);

    // IvkInteraction2 towards the server; transfers take their channel's turn. `ident` serves
    // the namespace check that the first access to an internal or pass-through item runs.
    HRESULT InitItem(IUnknown* pParameter, IUnknown** ppReplacement, VARTYPE* pvtAddressType);
    HRESULT ReadItem(const VARIANT& address, VARIANT* value, VARIANT* quality, VARIANT* timestamp,
                     IOPCOVI_AsyncIdent* ident);
    HRESULT WriteItem(const VARIANT& address, const VARIANT& value);
    HRESULT TerminateItem(const VARIANT& address);

    // IvkPropertyAccess2: the description elements and texts of a drive parameter item.
    HRESULT ReadItemProperty(IUnknown* pParameter, BSTR bsName, VARIANT* pvValue);
    HRESULT WriteItemProperty(IUnknown* pParameter, BSTR bsName, const VARIANT& value);
    HRESULT InitItemProperty(IUnknown* pParameter, BSTR bsName, VARTYPE* pvt);

    // IvkBulkInteraction: the items of each drive axis in multi-parameter requests, the
    // drives side by side; S_FALSE when an item failed (its error in the errors array).
    HRESULT ReadMultiple(long lCount, SAFEARRAY* saAddresses, SAFEARRAY** psaValues,
                         SAFEARRAY** psaQualities, SAFEARRAY** psaTimeStamps,
                         SAFEARRAY** psaErrors);
    HRESULT WriteMultiple(long lCount, SAFEARRAY* saAddresses, SAFEARRAY* saValues,
                          SAFEARRAY** psaErrors);

    std::shared_ptr<DeviceRecord> FindDevice(const std::wstring& name) const;
    // A copy of the record's fields, taken under the object's lock.
    DeviceRecord Snapshot(const DeviceRecord& device) const;

    const Settings& settings() const { return settings_; }
    BusTransfer& transfer() { return transfer_; }

    // State as tests look at it.
    ULONG connectionCount() const;
    size_t deviceCount() const;
    std::wstring busServerProgId() const;
    com::ComPtr<VKModelObject> busServerNode() const;
    bool modelInitialized() const;
    bool nameSpaceChecked() const;
    // A copy of the drive parameter record of `name`; false when there is none.
    bool RecordOf(const std::wstring& name, DriveParameterRecord* record) const;
    size_t internalItemCount() const;
    size_t passThroughItemCount() const;
    DWORD answerTimeout() const;

private:
    HRESULT SetUpModel();  // under lock_
    void DropSetUp();      // under lock_
    HRESULT CreateConnectionObject(com::ComPtr<IUnknown>* connection);
    HRESULT CreateObjectModel();
    HRESULT ReadBusServerProgId(HKEY settings);
    HRESULT QueryConnectionInterfaces(IUnknown* connection);
    HRESULT BuildNamespaceRoot();
    // After a configuration file replaced the model's tree: the bus-server node and
    // the device records of the loaded tree. Under lock_.
    HRESULT FollowLoadedTree();
    // The channel of a device whose nodes came from a file is bound before its
    // first request.
    HRESULT EnsureChannel(const std::wstring& deviceName);
    HRESULT OpenBrowsingConnection();

    HRESULT MarkerBrowse(IOPCBrowseServerAddressSpace* browse, std::vector<std::wstring>* created,
                         size_t* found);
    HRESULT PatternBrowse(IOPCBrowseServerAddressSpace* browse, std::vector<std::wstring>* created);
    HRESULT CreateDeviceNode(const std::wstring& prefix, std::vector<std::wstring>* created);
    HRESULT CollectDevices();

    // The bus server's "ParSpecific" (the channel item), "SlotI0S47D8209" by default.
    std::wstring ParSpecific() const;
    BYTE NextReference();

    HRESULT InitDriveItem(const com::ComPtr<VKModelParameter>& parameter, const std::wstring& path,
                          const ParameterItemName& name);
    HRESULT InitIdentItem(const com::ComPtr<VKModelParameter>& parameter, const std::wstring& path);
    HRESULT InitPassThrough(const com::ComPtr<VKModelParameter>& parameter);
    HRESULT IdentifiedValue(const com::ComPtr<VKModelParameter>& item, const ItemPath& parts,
                            VARIANT* value);
    ItemRecord* FindRecord(const std::wstring& name);  // under ModuleLock()
    // Binds a record made before its drive's axis was known.
    HRESULT ResolveChannel(ItemRecord& record);
    // The record of `name` bound and copied, under the module's lock.
    HRESULT CopyRecord(const std::wstring& name, RecordCopy* copy);
    HRESULT ReadDriveItem(const std::wstring& name, VARIANT* value, VARIANT* quality,
                          VARIANT* timestamp);
    HRESULT WriteDriveItem(const std::wstring& name, const VARIANT& value);
    // One parameter request for the item of a record copy; a read keeps the format the
    // drive answered with in the item's record.
    HRESULT ReadRecord(const RecordCopy& record, VARIANT* value, VARIANT* quality,
                       VARIANT* timestamp);
    HRESULT WriteRecord(const RecordCopy& record, const std::vector<BYTE>& bytes);
    // Copies of the records of a bulk call's addresses; `bound` receives per item S_OK or
    // why its drive axis is not known yet.
    HRESULT BulkRecords(const std::vector<com::UniqueVariant>& addresses,
                        std::vector<RecordCopy>* records, std::vector<HRESULT>* bound);
    // The requests of one drive channel of a bulk call; results go to the items' positions.
    HRESULT ReadLane(const BulkLane& lane, const std::vector<RecordCopy>& records,
                     std::vector<ItemRead>* reads);
    HRESULT WriteLane(const BulkLane& lane, const std::vector<RecordCopy>& records,
                      const std::vector<std::vector<BYTE>>& bytes, std::vector<HRESULT>* errors);
    // A copy of the record of a property's item; E_INVALIDARG for a parameter without one.
    HRESULT PropertyRecord(IUnknown* pParameter, RecordCopy* record);
    HRESULT PropertyRequest(const RecordCopy& record, BSTR bsName, DescriptionRequest* request,
                            PropertyCoding* coding);
    std::wstring ChannelAddress(const DeviceRecord& device) const;
    HRESULT ReadIdentParameter(const std::wstring& channel, bool async, WORD parameter,
                               WORD subindex, BYTE elements, std::vector<BYTE>* values,
                               BYTE* format);
    HRESULT SendIdentRequest(const std::wstring& channel, bool async, BYTE byParameters,
                             std::vector<BYTE>* response);
    HRESULT BindChannel(const std::shared_ptr<DeviceRecord>& device);
    HRESULT BindOnBusServer(IvkInteraction2* connection,
                            const com::ComPtr<VKModelParameter>& parameter);
    void UnbindChannel(const std::shared_ptr<DeviceRecord>& device);
    HRESULT ReadIdentification(const std::shared_ptr<DeviceRecord>& device, BYTE byParameters,
                               bool async);
    HRESULT SetupDevice(const std::shared_ptr<DeviceRecord>& device, bool readIdentification,
                        bool async);
    HRESULT Identify(const std::shared_ptr<DeviceRecord>& device, bool async);
    HRESULT InsertAxisInfo(VKModelObject* axis, DWORD vendor, DWORD deviceType,
                           const std::wstring& deviceId);
    BYTE CheckAxes(const std::shared_ptr<DeviceRecord>& device, bool async);
    HRESULT ReadLimits(const std::shared_ptr<DeviceRecord>& device, bool async, WORD* blockLength,
                       WORD* parRequests, WORD* latency);
    HRESULT CreateAxes(const std::shared_ptr<DeviceRecord>& device, BYTE axes, bool async);
    // The identification items of every axis of `device`; under modelLock_.
    HRESULT InsertIdentItems(VKModelObject* device, DWORD vendor, DWORD deviceType, DWORD station);

    const HKEY root_;
    const std::wstring key_;
    Settings settings_;
    BusTransfer transfer_;

    mutable com::CriticalSection lock_;  // guards everything below
    bool modelReady_ = false;            // the set-up ran through
    bool modelInitialized_ = false;      // discovery ran
    bool nameSpaceChecked_ = false;
    ULONG connections_ = 0;
    std::wstring busServerProgId_;
    com::ComPtr<VKModelObject> m_spObjModel;
    com::ComPtr<VKModelObject> busServerNode_;
    com::ComPtr<IvkInteraction2> m_spVkInteraction;
    com::ComPtr<IvkAsyncInteraction> m_spVkAsyncInteraction;
    com::ComPtr<IOPCServer> opcServer_;  // direct connection, browsing only
    com::ComPtr<IOPCBrowseServerAddressSpace> browse_;
    // Shared with identification calls in flight: a record dropped by the last
    // ReleaseConnections stays valid for them.
    std::vector<std::shared_ptr<DeviceRecord>> devices_;
    // Model nodes bound to bus-server items (pass-through and channel items): their
    // items are removed from the bus server when the last connection goes.
    std::vector<com::ComPtr<VKModelParameter>> busServerItems_;

    // Guarded by ModuleLock(), which no transfer holds: an operation looks a record up
    // again after its transfer (the item may have gone meanwhile).
    std::deque<ItemRecord> records_;
    std::deque<InternalItem> internalItems_;
    std::vector<PassThroughItem> passThroughItems_;

    // The request reference of every request. Its own lock, held only to
    // draw one: a drive that keeps a request waiting holds nobody else up.
    com::CriticalSection referenceLock_;  // guards reference_
    // The identification workers change the model one at a time. The model is
    // apartment-bound, so its calls run one after the other anyway; seventy workers
    // calling into its apartment at once lost calls under Wine now and then (an axis
    // or its identification items missing), which this lock ends.
    com::CriticalSection modelLock_;
    RequestReference reference_;
};

}  // namespace orvane::interaction
