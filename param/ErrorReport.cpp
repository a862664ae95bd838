#include "ErrorReport.h"

#include <oleauto.h>

#include <cstdarg>
#include <cstdio>

#include "com/ErrorInfo.h"
#include "com/Memory.h"
#include "com/Strings.h"
#include "vkmodel.h"

namespace vk {
namespace {

constexpr UINT kAnsiCodePage = 1252;

}  // namespace

AnsiText::AnsiText(const wchar_t* text)
    : text_(text ? com::WideToAnsi(text, kAnsiCodePage) : std::string()) {}

AnsiText AnsiText::FromUtf8(const char* text) {
    AnsiText ansi;
    if (text) ansi.text_ = com::WideToAnsi(com::Utf8ToWide(text), kAnsiCodePage);
    return ansi;
}

std::wstring FormatReportV(const char* utf8Format, va_list args) {
    const AnsiText format = AnsiText::FromUtf8(utf8Format);
    char buffer[kMaxReportLength + 1] = {};
    // Cut rather than overrun; the terminator is set explicitly because not
    // every C runtime writes it when the text is cut.
    vsnprintf(buffer, sizeof(buffer), format.c_str(), args);
    buffer[kMaxReportLength] = '\0';
    return com::AnsiToWide(buffer, kAnsiCodePage);
}

std::wstring FormatReport(const char* utf8Format, ...) {
    va_list args;
    va_start(args, utf8Format);
    std::wstring text = FormatReportV(utf8Format, args);
    va_end(args);
    return text;
}

void PublishErrorInfo(const std::wstring& text) {
    // The source names the model's generic parameter class; without a
    // registered ProgID it stays empty rather than the text being lost.
    com::CoTaskMem<wchar_t> progId;
    if (FAILED(ProgIDFromCLSID(CLSID_vkObjectParameter, progId.put()))) progId.reset();
    com::ClearErrorInfo();
    com::SetErrorInfo(S_OK, IID_VKModelParameter, progId.get(), text.c_str());
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
