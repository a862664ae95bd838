#include "ErrorText.h"

#include <objbase.h>

namespace {

constexpr LANGID kDefaultLanguage = 0x0400;  // LANG_NEUTRAL, SUBLANG_DEFAULT: the user's language

bool FormatFrom(DWORD source, HMODULE module, HRESULT code, LANGID language, std::wstring* text) {
    wchar_t* buffer = nullptr;
    const DWORD flags = source | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length = FormatMessageW(flags, module, static_cast<DWORD>(code), language,
                                        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) {
        if (buffer) LocalFree(buffer);
        return false;
    }
    text->assign(buffer, length);
    LocalFree(buffer);
    return true;
}

}  // namespace

HRESULT LookUpErrorText(HMODULE ownModule, HMODULE opcMessages, HRESULT code, LANGID language,
                        std::wstring* text) {
    text->clear();
    const bool found =
        (ownModule && FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, ownModule, code, language, text)) ||
        (opcMessages &&
         FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, opcMessages, code, language, text)) ||
        (ownModule &&
         FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, ownModule, code, kDefaultLanguage, text)) ||
        FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, language, text) ||
        FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, kDefaultLanguage, text);
    if (!found || text->size() < 3) {
        text->clear();
        return E_INVALIDARG;
    }
    // Message texts end with a line end; tables differ in whether it is CR LF or LF.
    while (!text->empty() && (text->back() == L'\n' || text->back() == L'\r')) text->pop_back();
    return S_OK;
}

HRESULT GetErrorStringFor(HMODULE ownModule, HMODULE opcMessages, HRESULT code, LCID locale,
                          LPWSTR* ppString) {
    if (!ppString) return E_POINTER;
    *ppString = nullptr;
    std::wstring text;
    const HRESULT hr = LookUpErrorText(ownModule, opcMessages, code, LANGIDFROMLCID(locale), &text);
    if (FAILED(hr)) return hr;
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    memcpy(copy, text.c_str(), bytes);
    *ppString = copy;
    return S_OK;
}

OpcMessageFile::OpcMessageFile()
    : module_(LoadLibraryExW(L"OPCmessages.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}

OpcMessageFile::~OpcMessageFile() {
    if (module_) FreeLibrary(module_);
}
