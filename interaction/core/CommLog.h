// The module's communication log: one text file in the log directory, the
// debugger output, or both. The switches and the directory are process-wide and
// set by every construction of an interaction object (ReadSettings).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "ParameterChannel.h"

namespace orvane::interaction {

class CommLog {
public:
    // All three switches off (the directory stays).
    static void SwitchOff();
    // Non-zero `commLogging` turns the master switch on; bit 0 adds the file, bit 1
    // the debugger output. The directory replaces the previous one.
    static void Configure(DWORD commLogging, std::wstring directory);

    // Callers compose trace lines only while this is on.
    static bool On();
    static bool FileOn();
    static bool DebuggerOn();
    static std::wstring Directory();
    // Directory, "\", "OV_Interaction_Log.txt".
    static std::wstring FilePath();

    // Writes one line to the enabled outputs; a file that cannot be opened drops it.
    static void Write(std::wstring_view message);
};

// ITraceLog of the parameter requests over the communication log.
class CommLogTrace : public ITraceLog {
public:
    bool Enabled() const override { return CommLog::On(); }
    void Write(const std::wstring& line) override { CommLog::Write(line); }
};

// One line of the log file: "hh:mm:ss" of `local`, ".%03u: " with `milliseconds`,
// the message and " \r\n".
std::wstring FormatLogLine(const SYSTEMTIME& local, WORD milliseconds, std::wstring_view message);

// Creates `directory` and every missing directory on the way to it: at every "\"
// or "/" the text up to and including it, at the end the whole text. Failures
// (directories that exist among them) are ignored.
void CreateDirectoryWalk(const std::wstring& directory);

// Appends "Start Kommunikation" or "Ende  Kommunikation" to "debugInfo.txt" in the
// current directory, whatever the switches say.
void CommunicationBracket(bool start);

// Holds the bracket for one transfer: start now, end on every way out.
class CommunicationScope {
public:
    CommunicationScope() { CommunicationBracket(true); }
    ~CommunicationScope() { CommunicationBracket(false); }
    CommunicationScope(const CommunicationScope&) = delete;
    CommunicationScope& operator=(const CommunicationScope&) = delete;
};

// Trace text of a value: "17 (VT_UI2)", "abc (VT_BSTR)", "0A0B (VT_ARRAY|VT_UI1)",
// "" for VT_EMPTY, "..." for types without a text.
std::wstring ValueText(const VARIANT& value);

}  // namespace orvane::interaction
