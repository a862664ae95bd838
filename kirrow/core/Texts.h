// The texts OPC_Kirrow shows for values, states and rights, and its command line.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "opc.h"

namespace kirrow {

// "OPC_STATUS_RUNNING" ... "OPC_STATUS_TEST"; any other number (0, or 6 from a DA 3.0 server's
// OPC_STATUS_COMM_FAULT) as "unknown state (N)" rather than a look-up past the table.
std::wstring StateText(DWORD state);

// "OPC_READABLE", "OPC_WRITEABLE", "OPC_READABLE | OPC_WRITEABLE", "none".
std::wstring AccessRightsText(DWORD rights);

// The read edit's text: a string as it is, everything else as opcda prints it.
std::wstring ReadValueText(const VARIANT& value);

// "0x00C0 good   2026-12-07 20:41:03.120" (the time in local time).
std::wstring QualityAndTimeText(WORD quality, const FILETIME& utc);

// An HRESULT as the messages print it with %X: "C004000C".
std::wstring HexText(HRESULT hr);

enum class StartupAction { kRun, kRegister, kUnregister };
// "RegServer" / "UnregServer" after "-" or "/", any case; unregistering wins.
StartupAction ParseStartupAction(const wchar_t* commandLine);

}  // namespace kirrow
