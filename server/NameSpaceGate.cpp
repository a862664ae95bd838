#include "NameSpaceGate.h"

#include "com/ComPtr.h"
#include "com/Log.h"
#include "ov_interaction.h"

void NameSpaceGate::Pass() noexcept {
    if (checked_) return;
    // The interaction object is one per process while a server object holds it: this is
    // the server's own, and its check runs once for all of them.
    com::ComPtr<IOPCOVI_NameSpace> nameSpace;
    const HRESULT hr = CoCreateInstance(interaction_, nullptr, CLSCTX_ALL, IID_IOPCOVI_NameSpace,
                                        nameSpace.put_void());
    if (hr == E_NOINTERFACE) checked_ = true;  // a component that builds no namespace
    if (FAILED(hr) || !nameSpace) return;
    long checked = 0;
    const HRESULT check = nameSpace->CheckNameSpace(&checked);
    if (FAILED(check)) LOG_WARNING(L"NameSpaceGate: the namespace check failed with %#lx", check);
    if (checked) checked_ = true;
}
