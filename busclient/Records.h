#pragma once
// Bookkeeping of the bus-server connections: servers, their groups and items,
// each kept in an ordered collection under a 16-bit client handle.

#include <windows.h>

#include <memory>
#include <string>

#include "com/ComPtr.h"
#include "com/Variant.h"
#include "HandleCollection.h"
#include "opc.h"

namespace vkopc {

// One OPC item. Value, quality and time stamp are those of the last
// synchronous read.
class CItemInfo {
public:
    virtual ~CItemInfo() = default;

    Handle16 hClient = 0;
    OPCHANDLE hServer = 0;
    std::wstring itemId;
    std::wstring accessPath;
    BOOL active = TRUE;
    VARTYPE requestedType = VT_EMPTY;
    VARTYPE canonicalType = VT_EMPTY;
    DWORD accessRights = 0;
    FILETIME timeStamp{};
    WORD quality = 0;
    com::UniqueVariant value;
};

using CItemCollection = HandleCollection<CItemInfo>;

// One OPC group of a bus server.
class CGrpInfo {
public:
    CGrpInfo() = default;
    CGrpInfo(const CGrpInfo&) = delete;
    CGrpInfo& operator=(const CGrpInfo&) = delete;
    virtual ~CGrpInfo();

    // Releases the group's interfaces in their fixed order, unadvising the
    // sink first when advised; returns one diagnostic line per failure.
    std::wstring Release();

    // Fetched from IOPCItemMgt on first use.
    HRESULT GetSyncIO(com::ComPtr<IOPCSyncIO>* out);
    // Fetches IOPCAsyncIO2 and the IOPCDataCallback connection point on
    // first use and advises sink once per group.
    HRESULT PrepareAsync(IUnknown* sink, com::ComPtr<IOPCAsyncIO2>* out);

    // First item, in handle order, whose ID equals itemId exactly.
    CItemInfo* FindItem(const std::wstring& itemId) const;

    // Drops the interfaces of a group whose server is gone, without calling it:
    // an Unadvise could only fail. The item records and their handles stay.
    void Abandon();

    std::wstring name;
    Handle16 hClient = 0;
    OPCHANDLE hServer = 0;
    DWORD revisedUpdateRate = 0;
    LONG timeBias = 0;
    FLOAT percentDeadband = 0.0f;
    DWORD locale = 0;
    bool advised = false;
    DWORD adviseCookie = 0;
    bool adviseAgain = false;  // advised when its server went: advised again at the reconnect

    com::ComPtr<IOPCItemMgt> itemMgt;
    com::ComPtr<IOPCGroupStateMgt> groupStateMgt;
    com::ComPtr<IOPCSyncIO> syncIO;
    com::ComPtr<IOPCAsyncIO> asyncIO;
    com::ComPtr<IOPCAsyncIO2> asyncIO2;
    com::ComPtr<IOPCPublicGroupStateMgt> publicGroupStateMgt;
    com::ComPtr<IDataObject> dataObject;
    com::ComPtr<IConnectionPointContainer> connectionPointContainer;
    com::ComPtr<IConnectionPoint> connectionPoint;

    CItemCollection items;
};

using CGrpCollection = HandleCollection<CGrpInfo>;

// One connection to a bus server.
class CSvrInfo {
public:
    CSvrInfo() = default;
    CSvrInfo(const CSvrInfo&) = delete;
    CSvrInfo& operator=(const CSvrInfo&) = delete;
    virtual ~CSvrInfo();

    // Releases the server's interfaces in their fixed order; returns one
    // diagnostic line per failure. The groups are not touched.
    std::wstring Release();

    // The server is gone (a call failed with a disconnection): its proxies and its
    // groups' go, the records and their handles stay for the reconnect. `now` is
    // the tick count from which the next reconnect is counted.
    void Abandon(HRESULT why, ULONGLONG now);

    Handle16 hServer = 0;
    std::wstring hostName;
    std::wstring progId;
    CLSID clsid{};
    bool lost = false;          // abandoned and not yet reconnected
    HRESULT lostResult = S_OK;  // what calls get while lost: the last failure
    ULONGLONG lastAttempt = 0;  // tick count of the loss or of the last reconnect

    com::ComPtr<IOPCCommon> common;
    com::ComPtr<IOPCServer> server;
    com::ComPtr<IOPCServerPublicGroups> publicGroups;
    com::ComPtr<IOPCBrowseServerAddressSpace> browse;
    com::ComPtr<IPersistFile> persistFile;
    com::ComPtr<IConnectionPointContainer> connectionPointContainer;
    com::ComPtr<IOPCItemProperties> itemProperties;

    CGrpCollection groups;
};

using CSvrCollection = HandleCollection<CSvrInfo>;

// The data part of the connection object.
class COPCClientObject {
public:
    virtual ~COPCClientObject() = default;

protected:
    CSvrCollection servers_;
    CSvrInfo* currentServer_ = nullptr;  // not owned; one of servers_
};

}  // namespace vkopc
