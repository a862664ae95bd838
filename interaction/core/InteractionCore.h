// The state and work of one interaction object behind its COM interfaces: the
// settings, the object model with the bus-server node, the bus-server connection
// object used for all parameter traffic, the direct connection used for browsing,
// the connection count and the device list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "BusTransfer.h"
#include "Settings.h"
#include "com/ComPtr.h"
#include "com/Sync.h"
#include "opc.h"
#include "vkmodel.h"
#include "vkopcinteraction.h"

namespace orvane::interaction {

// One discovered device: its node under the bus-server node. Identification data
// and flags are filled in later, when the device is identified.
struct DeviceRecord {
    com::ComPtr<VKModelObject> node;
    std::wstring name;
    DWORD flags = 0;
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

    // The first check discovers the devices; later ones answer at once. *plChecked
    // becomes 1. Device identification is not part of it yet.
    HRESULT CheckNameSpace(long* plChecked);

    const Settings& settings() const { return settings_; }
    BusTransfer& transfer() { return transfer_; }

    // State as tests look at it.
    ULONG connectionCount() const;
    size_t deviceCount() const;
    std::wstring busServerProgId() const;
    com::ComPtr<VKModelObject> busServerNode() const;
    bool modelInitialized() const;

private:
    HRESULT SetUpModel();  // under lock_
    void DropSetUp();      // under lock_
    HRESULT CreateConnectionObject(com::ComPtr<IUnknown>* connection);
    HRESULT CreateObjectModel();
    HRESULT ReadBusServerProgId(HKEY settings);
    HRESULT QueryConnectionInterfaces(IUnknown* connection);
    HRESULT BuildNamespaceRoot();
    HRESULT OpenBrowsingConnection();

    HRESULT MarkerBrowse(IOPCBrowseServerAddressSpace* browse, std::vector<std::wstring>* created,
                         size_t* found);
    HRESULT PatternBrowse(IOPCBrowseServerAddressSpace* browse, std::vector<std::wstring>* created);
    HRESULT CreateDeviceNode(const std::wstring& prefix, std::vector<std::wstring>* created);
    HRESULT CollectDevices();

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
    std::vector<DeviceRecord> devices_;
    // Model nodes bound to bus-server items (pass-through and channel items): their
    // items are removed from the bus server when the last connection goes.
    std::vector<com::ComPtr<VKModelParameter>> busServerItems_;
};

}  // namespace orvane::interaction
