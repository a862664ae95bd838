#pragma once

// Helpers of the out-of-process server tests: they reach Orvane.exe through
// COM and the proxy DLLs like any OPC client.
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "opc.h"

// "0x8004000c" for test messages.
std::string Hex(HRESULT hr);
std::string Narrow(const std::wstring& text);

// CoCreateInstance of Axolent.Orvane as a local server.
HRESULT CreateServer(com::ComPtr<IOPCServer>* server);

struct GroupState {
    DWORD updateRate = 0;
    BOOL active = FALSE;
    std::wstring name;
    LONG timeBias = 0;
    FLOAT deadband = 0;
    DWORD lcid = 0;
    OPCHANDLE clientHandle = 0;
    OPCHANDLE serverHandle = 0;
};
HRESULT GetGroupState(IUnknown* group, GroupState* state);

// The names that CreateGroupEnumerator(OPC_ENUM_ALL, IEnumString) lists.
std::vector<std::wstring> GroupNames(IOPCServer* server);

// Directory of the test program (= the build's bin folder).
std::wstring BinDirectory();

// Process ids of running Orvane.exe processes.
std::vector<DWORD> ServerProcesses();
// Waits (bounded) until no Orvane.exe runs; false on time-out.
bool WaitForNoServerProcess(DWORD timeoutMs);

// Reads a REG_SZ (or the default value with name null); false if absent.
bool ReadRegString(HKEY root, const std::wstring& key, const wchar_t* name, std::wstring* value);
bool RegKeyExists(HKEY root, const std::wstring& key);

// One item of the bus simulator, read or written through a group of its own.
class SimItem {
public:
    SimItem(IOPCServer* sim, const wchar_t* id);
    ~SimItem();
    SimItem(const SimItem&) = delete;
    SimItem& operator=(const SimItem&) = delete;
    // The device value as a number; -1 when it cannot be read.
    LONG Number();
    HRESULT Write(const VARIANT& value);

private:
    IOPCServer* sim_;
    OPCHANDLE hGroup_ = 0;
    OPCHANDLE hItem_ = 0;
    com::ComPtr<IOPCItemMgt> mgt_;
    com::ComPtr<IOPCSyncIO> io_;
};

// One run of opcda.exe with its output (stdout and stderr) from a file.
struct ToolRun {
    DWORD exitCode = static_cast<DWORD>(-1);
    std::string output;
};
ToolRun RunOpcda(const std::wstring& arguments);

// The bus simulator as a local server.
HRESULT CreateSimulator(com::ComPtr<IOPCServer>* sim);
