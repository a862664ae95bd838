#include "ErrorBoxes.h"

#include <atomic>

#include "com/ErrorBox.h"
#include "com/Module.h"
#include "com/Strings.h"

namespace orvane::interaction {
namespace {

std::atomic<UINT> g_lastBox{0};

std::wstring LoadText(UINT id) {
    const wchar_t* text = nullptr;
    const int length =
        LoadStringW(com::Module::Get().handle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
}

void Report(UINT textId, const std::wstring& text) {
    g_lastBox = textId;
    com::ReportErrorBox(text.c_str(), LoadText(IDS_ERROR_CAPTION).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

std::wstring ErrorBoxText(UINT textId) { return LoadText(textId); }

std::wstring ErrorBoxText(UINT textId, const std::wstring& progId, HRESULT hr) {
    return LoadText(textId) + L"\n\n(ProgID: " + progId + L")\n(hRes: " +
           com::Format(L"0x%08X", static_cast<unsigned>(hr)) + L")";
}

void ShowErrorBox(UINT textId) { Report(textId, ErrorBoxText(textId)); }

void ShowErrorBox(UINT textId, const std::wstring& progId, HRESULT hr) {
    Report(textId, ErrorBoxText(textId, progId, hr));
}

UINT LastErrorBox() { return g_lastBox; }
void ResetLastErrorBox() { g_lastBox = 0; }

}  // namespace orvane::interaction
