#pragma once

#include <string>

// Name given to a group added with an empty name: "SvrProvName" and at least
// three digits of the number.
std::wstring GeneratedGroupName(unsigned number);

// Container key of a name: the name in the ANSI code page (1252), so names
// that differ only in characters without a 1252 equivalent share one key.
std::string ContainerKey(const wchar_t* name);
