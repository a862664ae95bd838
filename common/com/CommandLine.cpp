#include "com/CommandLine.h"

#include "com/Strings.h"

namespace com {

bool HasSwitch(const wchar_t* commandLine, std::wstring_view name) {
    const std::wstring_view line = commandLine ? commandLine : L"";
    size_t position = 0;
    while (position < line.size()) {
        const size_t start = line.find_first_not_of(L" \t", position);
        if (start == std::wstring_view::npos) break;
        size_t end = line.find_first_of(L" \t", start);
        if (end == std::wstring_view::npos) end = line.size();
        const std::wstring_view token = line.substr(start, end - start);
        position = end;
        if (token.size() >= 2 && (token[0] == L'-' || token[0] == L'/') &&
            EqualsNoCase(token.substr(1), name))
            return true;
    }
    return false;
}

}  // namespace com
