#include "CommandLine.h"

#include <windows.h>

#include <string>

namespace ovconfig {

StartupAction ParseStartupAction(const wchar_t* commandLine) {
    bool reg = false, unreg = false, embedding = false;
    const std::wstring line = commandLine ? commandLine : L"";
    size_t position = 0;
    while (position < line.size()) {
        const size_t start = line.find_first_not_of(L" \t", position);
        if (start == std::wstring::npos) break;
        const size_t end = line.find_first_of(L" \t", start);
        const std::wstring token =
            line.substr(start, end == std::wstring::npos ? end : end - start);
        position = end == std::wstring::npos ? line.size() : end;
        if (token.size() < 2 || (token[0] != L'-' && token[0] != L'/')) continue;
        const wchar_t* name = token.c_str() + 1;
        if (lstrcmpiW(name, L"UnregServer") == 0)
            unreg = true;
        else if (lstrcmpiW(name, L"RegServer") == 0)
            reg = true;
        else if (lstrcmpiW(name, L"Embedding") == 0 || lstrcmpiW(name, L"Automation") == 0)
            embedding = true;
    }
    if (unreg) return StartupAction::kUnregister;
    if (reg) return StartupAction::kRegister;
    if (embedding) return StartupAction::kExit;
    return StartupAction::kShowDialog;
}

}  // namespace ovconfig
