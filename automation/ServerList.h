// ServerList.h - where the wrapper finds OPC servers and their class IDs: the OPC server-list
// component on a node, or the node's registry. No COM object of the wrapper is involved, so
// the rules can be tested on their own.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>
#include <vector>

#include "com/RegKey.h"

namespace vkauto {

struct ServerRecord {
    std::wstring progId;
    std::wstring userType;  // empty when found in the registry
    CLSID clsid;
};

// The node named by an optional argument: a non-empty text (also by reference), else "".
std::wstring NodeArgument(const VARIANT& vNode);

// True for "" and for the names that mean this computer whatever their case: its NetBIOS and
// DNS host names, "localhost" and "127.0.0.1". Listing and connecting use the same rule.
bool IsLocalNode(std::wstring_view node);

// The classes root to scan: HKEY_CLASSES_ROOT locally; on another node its HKLM
// "SOFTWARE\Classes" through a remote registry connection (HKCR cannot be opened remotely).
LSTATUS OpenClassesRoot(const std::wstring& node, com::RegKey* classes);
// The node's HKLM "SOFTWARE\Classes" through a remote registry connection, whatever the node.
LSTATUS OpenRemoteClassesRoot(const std::wstring& node, com::RegKey* classes);

// Every key of `classes` with an "OPC" subkey and a "CLSID" subkey whose default value is a
// class ID, in the registry's order, user type empty.
HRESULT ScanRegistryForServers(HKEY classes, std::vector<ServerRecord>* servers);

// The default value of `progId`\CLSID under `classes`.
HRESULT ClsidFromRegistry(HKEY classes, const std::wstring& progId, CLSID* clsid);

// The OPC DA 1.0 servers known to the OPC server-list component on the node ("" local).
// Fails when the component cannot be created there.
HRESULT ListServersFromComponent(const std::wstring& node, std::vector<ServerRecord>* servers);

// The server-list component's CLSIDFromProgID on the node.
HRESULT ClsidFromComponent(const std::wstring& node, const std::wstring& progId, CLSID* clsid);

}  // namespace vkauto
