#include "ChangeNotifier.h"

#include <olectl.h>

#include "com/Result.h"

namespace model {

template <class F>
HRESULT CChangeNotifier::PassOn(F&& notify) {
    return com::ComBoundary([&] {
        if (update_depth_ > 0) return;
        const Sinks sinks = sinks_;
        // A failing sink does not keep the others from hearing about the change.
        for (const auto& sink : sinks) notify(sink.second.get());
    });
}

STDMETHODIMP CChangeNotifier::Advise(IUnknown* pSink, long* plCookie) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(plCookie);
        *plCookie = 0;
        RETURN_IF_NULL_POINTER(pSink);
        com::ComPtr<VKChangeNotifier> sink;
        RETURN_HR_IF(CONNECT_E_CANNOTCONNECT,
                     FAILED(pSink->QueryInterface(IID_VKChangeNotifier, sink.put_void())));
        sinks_.emplace_back(next_cookie_, std::move(sink));
        *plCookie = next_cookie_++;
        if (next_cookie_ <= 0) next_cookie_ = 1;
        return S_OK;
    });
}

STDMETHODIMP CChangeNotifier::Unadvise(long lCookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->first == lCookie) {
            // Moved out first: releasing the sink may call back into this notifier.
            com::ComPtr<VKChangeNotifier> sink = std::move(it->second);
            sinks_.erase(it);
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP CChangeNotifier::OnObjectCreated(IUnknown* pObject) {
    return PassOn([&](VKChangeNotifier* sink) { sink->OnObjectCreated(pObject); });
}

STDMETHODIMP CChangeNotifier::OnObjectDeleted(IUnknown* pObject) {
    return PassOn([&](VKChangeNotifier* sink) { sink->OnObjectDeleted(pObject); });
}

STDMETHODIMP CChangeNotifier::BeginUpdate() {
    ++update_depth_;
    return S_OK;
}

STDMETHODIMP CChangeNotifier::EndUpdate() {
    RETURN_HR_IF(E_UNEXPECTED, update_depth_ == 0);
    --update_depth_;
    return S_OK;
}

STDMETHODIMP CChangeNotifier::OnValueChanged(IUnknown* pObject, VARIANT vNewValue) {
    return PassOn([&](VKChangeNotifier* sink) { sink->OnValueChanged(pObject, vNewValue); });
}

STDMETHODIMP CChangeNotifier::OnAttributeChanged(IUnknown* pObject) {
    return PassOn([&](VKChangeNotifier* sink) { sink->OnAttributeChanged(pObject); });
}

}  // namespace model
