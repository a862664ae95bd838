#pragma once
// A group holding the items of one opcda command (inactive unless cache reads
// need it active); removed again when the command ends.

#include <windows.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "opc.h"

struct GroupItem {
    std::wstring id;
    HRESULT error = E_FAIL;  // of AddItems
    OPCHANDLE hServer = 0;
    VARTYPE canonicalType = VT_EMPTY;
    DWORD accessRights = 0;
};

class ItemGroup {
public:
    explicit ItemGroup(IOPCServer* server) : server_(server) {}
    ~ItemGroup();
    ItemGroup(const ItemGroup&) = delete;
    ItemGroup& operator=(const ItemGroup&) = delete;

    // Adds the group and the items (requested type VT_EMPTY: the server's
    // canonical type). A failed item is kept with its error.
    HRESULT Open(const std::vector<std::wstring>& ids, std::wstring* message,
                 VARTYPE requestedType = VT_EMPTY, BOOL active = FALSE, DWORD rate = 1000,
                 FLOAT deadband = 0.0f);
    // The ids of the items in client-handle order (handle i + 1).
    std::vector<std::wstring> ids() const;

    std::vector<GroupItem> items;
    com::ComPtr<IOPCItemMgt> itemMgt;
    com::ComPtr<IOPCSyncIO> syncIO;

private:
    com::ComPtr<IOPCServer> server_;
    OPCHANDLE hGroup_ = 0;
};

// The server's text for an error, or the system's.
std::wstring ErrorText(IOPCServer* server, HRESULT error);
