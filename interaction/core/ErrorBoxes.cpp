#include "ErrorBoxes.h"

#include <atomic>

#include "com/ErrorBox.h"
#include "com/Module.h"
#include "com/Strings.h"

namespace orvane::interaction {
namespace {

std::atomic<UINT> g_lastBox{0};
std::atomic<ErrorBoxObserver> g_observer{nullptr};
thread_local DeferredErrorBoxes* t_deferred = nullptr;

std::wstring LoadText(UINT id) {
    const wchar_t* text = nullptr;
    const int length =
        LoadStringW(com::Module::Get().handle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
}

void Show(UINT textId, const std::wstring& text) {
    if (ErrorBoxObserver observer = g_observer) observer(textId);
    com::ReportErrorBox(text.c_str(), LoadText(IDS_ERROR_CAPTION).c_str(), MB_OK | MB_ICONERROR);
}

void Report(UINT textId, std::wstring text) {
    g_lastBox = textId;
    if (t_deferred) {
        t_deferred->Add(textId, std::move(text));
        return;
    }
    Show(textId, text);
}

}  // namespace

DeferredErrorBoxes::DeferredErrorBoxes() noexcept : outer_(t_deferred) { t_deferred = this; }

DeferredErrorBoxes::~DeferredErrorBoxes() {
    t_deferred = outer_;
    try {
        for (auto& [textId, text] : boxes_) {
            if (outer_)
                outer_->Add(textId, std::move(text));
            else
                Show(textId, text);
        }
    } catch (...) {
        // Out of memory for a box's caption: the box is lost, the caller is not.
    }
}

void DeferredErrorBoxes::Add(UINT textId, std::wstring text) {
    try {
        boxes_.emplace_back(textId, std::move(text));
    } catch (const std::bad_alloc&) {
        // Shown at once rather than lost.
        Show(textId, text);
    }
}

void SetErrorBoxObserver(ErrorBoxObserver observer) { g_observer = observer; }

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
