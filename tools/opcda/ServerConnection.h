#pragma once

#include <windows.h>

#include <string>

#include "Options.h"
#include "com/ComPtr.h"
#include "opc.h"

// Creates the OPC server of a ProgID on this machine or on node (empty: local)
// and returns its IOPCServer. On failure, message says what went wrong.
HRESULT ConnectServer(const std::wstring& progId, const std::wstring& node,
                      com::ComPtr<IOPCServer>* server, std::wstring* message);

// The server a command names with --progid (default Axolent.Orvane) and --node.
std::wstring ServerProgId(const Options& options);
// ConnectServer for that server; on failure prints "opcda <command>: <message>" to stderr.
bool ConnectCommandServer(const Options& options, com::ComPtr<IOPCServer>* server);

// "0x80004005 (Unspecified error)": the code with the system's text, if any.
std::wstring DescribeHr(HRESULT hr);
