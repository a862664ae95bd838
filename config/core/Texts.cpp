#include "Texts.h"

namespace ovconfig {
namespace {

const void* LoadResourceData(LPCWSTR type, LPCWSTR name, LANGID language, DWORD* size) {
    const HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, type, name, language);
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    if (!loaded) return nullptr;
    if (size) *size = SizeofResource(module, found);
    return LockResource(loaded);
}

}  // namespace

LANGID UiLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN
               ? MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)
               : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

std::wstring LoadText(UINT id, LANGID language) {
    // A string table block holds 16 strings, each a length word followed by its characters.
    DWORD size = 0;
    const auto* block = static_cast<const WCHAR*>(
        LoadResourceData(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language, &size));
    if (!block) return {};
    const WCHAR* end = block + size / sizeof(WCHAR);
    const WCHAR* entry = block;
    for (UINT index = 0; index < id % 16; ++index) {
        if (entry >= end) return {};
        entry += 1 + *entry;
    }
    if (entry >= end || entry + 1 + *entry > end) return {};
    return std::wstring(entry + 1, *entry);
}

const DLGTEMPLATE* LoadDialogTemplate(UINT id, LANGID language) {
    return static_cast<const DLGTEMPLATE*>(
        LoadResourceData(RT_DIALOG, MAKEINTRESOURCEW(id), language, nullptr));
}

}  // namespace ovconfig
