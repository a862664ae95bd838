#pragma once

#include <windows.h>
#include <wtypes.h>

#include <string>
#include <vector>

#include "opc.h"

#include "Options.h"

class ItemGroup;

// Exit codes of every command.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,       // bad command line
    kExitConnect = 2,     // server not found or not creatable
    kExitCallFailed = 3,  // the server refused a call
};

int RunStatusCommand(const Options& options);
int RunServersCommand(const Options& options);
int RunBrowseCommand(const Options& options);
int RunReadCommand(const Options& options);
int RunWriteCommand(const Options& options);
int RunValidateCommand(const Options& options);

// One synchronous read of the group's good items from source, a line per item
// ("ID = value  type  quality q  time", or "ID: error text"); `marker` follows the
// ID (" (cache)"). Returns an exit code.
int ReadAndPrint(IOPCServer* server, ItemGroup& group, int source, const wchar_t* marker);
// One item's line of read: "ID = value  type  quality q  time", or "ID: error text".
void PrintItemState(IOPCServer* server, const std::wstring& id, const wchar_t* marker,
                    HRESULT error, const VARIANT& value, WORD quality, const FILETIME& time);
int RunWatchCommand(const Options& options);
// read --async / write --async: through IOPCAsyncIO2, the completions printed.
int AsyncReadAndPrint(IOPCServer* server, ItemGroup& group);
int AsyncWriteAndPrint(IOPCServer* server, ItemGroup& group, std::vector<OPCHANDLE> handles,
                       std::vector<VARIANT> values, const std::vector<size_t>& sent);
// The --type option: VT_EMPTY without it; false with a message for an unknown name.
bool RequestedTypeOption(const Options& options, const wchar_t* command, VARTYPE* type);
int RunPropsCommand(const Options& options);
int RunNamespaceCommand(const Options& options);
int RunModelCommand(const Options& options);
// model read|write|props ITEM...: items on the in-process interaction object.
int RunModelItemsCommand(const Options& options);
// save FILE [ITEM...] and load FILE: the namespace in a configuration file.
int RunSaveCommand(const Options& options);
int RunLoadCommand(const Options& options);
// --config FILE: loads the file into the server before a command; false (with a
// message) when that fails.
bool LoadConfigOption(const Options& options, IOPCServer* server, const wchar_t* command);
// Every item ID of the server's namespace, one a line; false (with a message) on failure.
bool PrintFlatItemIds(IOPCServer* server, const wchar_t* command);
