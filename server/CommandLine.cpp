#include "CommandLine.h"

#include <windows.h>

RegistrationAction ParseRegistrationSwitch(const wchar_t* commandLine) {
    if (!commandLine) return RegistrationAction::None;
    for (const wchar_t* p = commandLine; *p; ++p) {
        if (*p != L'-' && *p != L'/') continue;
        const wchar_t* rest = p + 1;
        if (lstrcmpiW(rest, L"UnregServer") == 0) return RegistrationAction::Unregister;
        if (lstrcmpiW(rest, L"RegServer") == 0) return RegistrationAction::Register;
    }
    return RegistrationAction::None;
}
