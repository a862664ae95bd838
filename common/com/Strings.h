// com/Strings.h - text conversions (UTF-16 <-> ANSI code pages and UTF-8), GUID text, formatting.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>
#include <string_view>

namespace com {

// Code page conversions; characters the code page lacks become its default character.
std::string WideToAnsi(std::wstring_view text, UINT code_page = CP_ACP);
std::wstring AnsiToWide(std::string_view text, UINT code_page = CP_ACP);
std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);

// "CA99FEF3-FB7A-11D4-A85E-0060087AB05A" (upper case), with braces if asked.
std::wstring GuidToString(REFGUID guid, bool braces = false);
// Accepts the form with or without braces; false for anything else.
bool StringToGuid(std::wstring_view text, GUID* out);

// printf into a std::wstring (%ls for wide strings, %hs for narrow ones).
std::wstring Format(const wchar_t* format, ...);
std::wstring VFormat(const wchar_t* format, va_list args);
// "0x80004005".
std::wstring HrToString(HRESULT hr);

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) noexcept;

}  // namespace com
