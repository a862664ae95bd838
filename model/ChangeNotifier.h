// CChangeNotifier: the change notifier every parameter creates for itself.
// It passes each notification on to the sinks advised to it (objects that
// answer VKChangeNotifier themselves), except between BeginUpdate and EndUpdate.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "vkmodel.h"

namespace model {

class CChangeNotifier : public com::Object<com::Dual<VKChangeNotifier>> {
public:
    STDMETHODIMP Advise(IUnknown* pSink, long* plCookie) override;
    STDMETHODIMP Unadvise(long lCookie) override;
    STDMETHODIMP OnObjectCreated(IUnknown* pObject) override;
    STDMETHODIMP OnObjectDeleted(IUnknown* pObject) override;
    STDMETHODIMP BeginUpdate() override;
    STDMETHODIMP EndUpdate() override;
    STDMETHODIMP OnValueChanged(IUnknown* pObject, VARIANT vNewValue) override;
    STDMETHODIMP OnAttributeChanged(IUnknown* pObject) override;

private:
    using Sinks = std::vector<std::pair<long, com::ComPtr<VKChangeNotifier>>>;
    // Calls every sink on a copy of the list: a sink may unadvise while called.
    template <class F>
    HRESULT PassOn(F&& notify);

    Sinks sinks_;
    long next_cookie_ = 1;
    long update_depth_ = 0;
};

}  // namespace model
