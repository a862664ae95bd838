#include "com/ErrorInfo.h"

#include "com/ComPtr.h"

namespace com {

HRESULT SetErrorInfo(HRESULT hr, REFGUID iid, const wchar_t* source, const wchar_t* description,
                     const wchar_t* help_file, DWORD help_context) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(::CreateErrorInfo(create.put()))) return hr;
    create->SetGUID(iid);
    if (source) create->SetSource(const_cast<LPOLESTR>(source));
    if (description) create->SetDescription(const_cast<LPOLESTR>(description));
    if (help_file) create->SetHelpFile(const_cast<LPOLESTR>(help_file));
    create->SetHelpContext(help_context);
    if (auto info = create.try_query<IErrorInfo>()) ::SetErrorInfo(0, info.get());
    return hr;
}

void ClearErrorInfo() noexcept { ::SetErrorInfo(0, nullptr); }

}  // namespace com
