// One connection to an OPC DA 2.0 server with the client's groups and items, as OPC_Kirrow
// keeps them. Window-free: every failure comes back as the message the user is shown.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <ocidl.h>

#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/HandleRegistry.h"
#include "com/Variant.h"
#include "opc.h"

namespace kirrow {

// The caption of the messages that have none of their own (not the main window's title, so
// that a box is told apart from the window).
constexpr wchar_t kMessageCaption[] = L"OPC_Kirrow Message";

// A text for a message box, with its caption.
struct Message {
    std::wstring text;
    std::wstring caption;
};
using Messages = std::vector<Message>;

struct ItemRecord {
    OPCHANDLE clientHandle = 0;
    OPCHANDLE serverHandle = 0;
    OPCHANDLE groupHandle = 0;  // the client handle of its group
    std::wstring itemId;
    std::wstring accessPath;
    VARTYPE canonicalType = VT_EMPTY;
    DWORD accessRights = 0;
    com::UniqueVariant value;
    WORD quality = 0;
    FILETIME timeStamp = {};
};

struct GroupRecord {
    std::wstring name;  // empty: the server named it
    OPCHANDLE clientHandle = 0;
    OPCHANDLE serverHandle = 0;
    DWORD updateRate = 0;
    bool active = false;
    com::ComPtr<IOPCItemMgt> itemMgt;
    com::ComPtr<IOPCGroupStateMgt> stateMgt;
    com::ComPtr<IOPCPublicGroupStateMgt> publicStateMgt;
    com::ComPtr<IOPCSyncIO> syncIO;
    com::ComPtr<IOPCAsyncIO> asyncIO;
    com::ComPtr<IOPCAsyncIO2> asyncIO2;
    com::ComPtr<IConnectionPointContainer> connectionPoints;
    com::ComPtr<IDataObject> dataObject;
    std::vector<OPCHANDLE> items;  // client handles, in the order added

    // "TestGroup", or "Handle = N" with the server's handle for a group the server named.
    std::wstring DisplayName() const;
    void ReleaseInterfaces();
};

class Session {
public:
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { Disconnect(); }

    // A host equal to "localserver" (any case) is this computer.
    HRESULT Connect(const std::wstring& host, const std::wstring& progId, Messages* messages);
    // Removes every item and group, then releases every interface; quick even when the
    // server died (each call fails with its RPC error).
    void Disconnect();
    bool connected() const { return static_cast<bool>(server_); }

    HRESULT AddGroup(const std::wstring& name, bool active, OPCHANDLE* clientHandle,
                     Messages* messages);
    HRESULT RemoveGroup(OPCHANDLE group, Messages* messages);
    // One AddItems call; added gets the client handles of the items the server took.
    HRESULT AddItems(OPCHANDLE group, const std::vector<std::wstring>& itemIds,
                     std::vector<OPCHANDLE>* added, Messages* messages);
    HRESULT RemoveItem(OPCHANDLE item, Messages* messages);
    // Synchronous device read and write of one item; the record keeps what was read.
    HRESULT Read(OPCHANDLE item, Messages* messages);
    // The text is converted to the item's canonical type first; text that does not convert
    // is not sent.
    HRESULT Write(OPCHANDLE item, const std::wstring& text, Messages* messages);
    // ValidateItems in the group: "valid: VT_BSTR, OPC_READABLE" or "invalid: C0040007".
    HRESULT ValidateItem(OPCHANDLE group, const std::wstring& itemId, std::wstring* result);

    std::shared_ptr<GroupRecord> Group(OPCHANDLE clientHandle) const;
    std::shared_ptr<ItemRecord> Item(OPCHANDLE clientHandle) const;
    std::vector<OPCHANDLE> GroupHandles() const;

    const std::wstring& host() const { return host_; }
    const std::wstring& progId() const { return progId_; }
    const CLSID& clsid() const { return clsid_; }
    // "Orvane.BusSimulator (localserver)".
    std::wstring DisplayName() const { return progId_ + L" (" + host_ + L")"; }

    IOPCServer* server() const { return server_.get(); }
    IOPCCommon* common() const { return common_.get(); }
    IOPCBrowseServerAddressSpace* browse() const { return browse_.get(); }
    // Which of the server's optional interfaces answered.
    std::vector<std::pair<std::wstring, bool>> ServerInterfaces() const;
    static std::vector<std::pair<std::wstring, bool>> GroupInterfaces(const GroupRecord& group);

private:
    void RemoveItemsOf(GroupRecord* group);

    std::wstring host_;
    std::wstring progId_;
    CLSID clsid_ = CLSID_NULL;
    com::ComPtr<IOPCServer> server_;
    com::ComPtr<IOPCCommon> common_;
    com::ComPtr<IOPCServerPublicGroups> publicGroups_;
    com::ComPtr<IOPCBrowseServerAddressSpace> browse_;
    com::ComPtr<IPersistFile> persistFile_;
    com::ComPtr<IConnectionPointContainer> connectionPoints_;
    com::ComPtr<IOPCItemProperties> itemProperties_;
    // Client handles count up from 1 and stay unique while their group or item lives.
    com::HandleRegistry<std::shared_ptr<GroupRecord>> groups_;
    com::HandleRegistry<std::shared_ptr<ItemRecord>> items_;
};

}  // namespace kirrow
