// The report-error routine of a parameter node: formats a German text in
// code page 1252 and publishes it as the thread's COM error information.
#pragma once

#include <windows.h>

#include <string>

namespace vk {

// A wide or UTF-8 text converted to code page 1252 for a %s argument;
// characters outside the code page become "?".
class AnsiText {
public:
    explicit AnsiText(const wchar_t* text);
    explicit AnsiText(const std::wstring& text) : AnsiText(text.c_str()) {}
    static AnsiText FromUtf8(const char* text);
    const char* c_str() const { return text_.c_str(); }

private:
    AnsiText() = default;
    std::string text_;
};

// Report texts fit a buffer of 256 bytes: longer ones are cut at 255 characters.
inline constexpr size_t kMaxReportLength = 255;

// Formats utf8Format (converted to 1252) with printf arguments already in
// 1252, and returns the result read back from 1252 as UTF-16.
std::wstring FormatReport(const char* utf8Format, ...);
std::wstring FormatReportV(const char* utf8Format, va_list args);

// Publishes text as error information: GUID of VKModelParameter, source the
// ProgID of the model's generic parameter class, no help file.
void PublishErrorInfo(const std::wstring& text);

// FormatReport + PublishErrorInfo. A null format does nothing. The result of
// the operation that reports is independent of this routine.
void ReportError(const char* utf8Format, ...) noexcept;

}  // namespace vk
