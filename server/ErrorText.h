#pragma once

#include <windows.h>

#include <string>

// Text of an error code for GetErrorString. Sources in order: the server's
// own message table in the language, the OPC message file in the language (if
// loaded), the own table in the user's default language, the system in the
// language, the system in the default language. The line end is removed.
// E_INVALIDARG if no source knows the code.
HRESULT LookUpErrorText(HMODULE ownModule, HMODULE opcMessages, HRESULT code, LANGID language,
                        std::wstring* text);

// The same, as a string from CoTaskMemAlloc for the caller.
HRESULT GetErrorStringFor(HMODULE ownModule, HMODULE opcMessages, HRESULT code, LCID locale,
                          LPWSTR* ppString);

// "OPCmessages.dll" opened as a data file for one error-string source; it may
// be absent, then the other sources answer alone.
class OpcMessageFile {
public:
    OpcMessageFile();
    ~OpcMessageFile();
    OpcMessageFile(const OpcMessageFile&) = delete;
    OpcMessageFile& operator=(const OpcMessageFile&) = delete;

    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};
