#include "vk_error_report.h"

#include <oleauto.h>

#include <cstdarg>
#include <cstdio>

#include "com/ComPtr.h"
#include "vkmodel.h"

namespace vk {
namespace {

constexpr UINT kAnsiCodePage = 1252;

std::wstring Widen(UINT codePage, const char* text) {
    const int length = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring wide(length - 1, L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, wide.data(), length);
    return wide;
}

std::string Narrow(UINT codePage, const wchar_t* text) {
    const int length = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string narrow(length - 1, '\0');
    WideCharToMultiByte(codePage, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

}  // namespace

AnsiText::AnsiText(const wchar_t* text) : text_(text ? Narrow(kAnsiCodePage, text) : std::string()) {}

AnsiText AnsiText::FromUtf8(const char* text) {
    AnsiText ansi;
    if (text) ansi.text_ = Narrow(kAnsiCodePage, Widen(CP_UTF8, text).c_str());
    return ansi;
}

std::wstring FormatReportV(const char* utf8Format, va_list args) {
    const AnsiText format = AnsiText::FromUtf8(utf8Format);
    char buffer[kMaxReportLength + 1] = {};
    // Cut rather than overrun; the terminator is set explicitly because not
    // every C runtime writes it when the text is cut.
    vsnprintf(buffer, sizeof(buffer), format.c_str(), args);
    buffer[kMaxReportLength] = '\0';
    return Widen(kAnsiCodePage, buffer);
}

std::wstring FormatReport(const char* utf8Format, ...) {
    va_list args;
    va_start(args, utf8Format);
    std::wstring text = FormatReportV(utf8Format, args);
    va_end(args);
    return text;
}

HRESULT PublishErrorInfo(const std::wstring& text) {
    SetErrorInfo(0, nullptr);
    com::ComPtr<ICreateErrorInfo> create;
    HRESULT hr = CreateErrorInfo(create.put());
    if (FAILED(hr)) return hr;
    hr = create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    if (SUCCEEDED(hr)) hr = create->SetGUID(IID_VKModelParameter);
    if (SUCCEEDED(hr)) hr = create->SetHelpFile(nullptr);
    if (SUCCEEDED(hr)) hr = create->SetHelpContext(0);
    if (FAILED(hr)) return hr;
    // The source names the model's generic parameter class; without a
    // registered ProgID it stays empty rather than the text being lost.
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(CLSID_vkObjectParameter, &progId))) {
        create->SetSource(progId);
        CoTaskMemFree(progId);
    }
    com::ComPtr<IErrorInfo> info;
    hr = create.query(&info);
    if (FAILED(hr)) return hr;
    return SetErrorInfo(0, info.get());
}

void ReportError(const char* utf8Format, ...) noexcept {
    if (!utf8Format) return;
    va_list args;
    va_start(args, utf8Format);
    // Like every other failing step, running out of memory just ends the report.
    try {
        const std::wstring text = FormatReportV(utf8Format, args);
        PublishErrorInfo(text);
    } catch (...) {
    }
    va_end(args);
}

}  // namespace vk
