#include "com/ConnectionPoint.h"

#include "com/Enum.h"
#include "com/Result.h"

namespace com {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID iid,
                                 DWORD advise_limit)
    : container_(container), iid_(iid), advise_limit_(advise_limit) {}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    RETURN_IF_NULL_POINTER(ppv);
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IConnectionPoint*>(this);
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* pIID) {
    RETURN_IF_NULL_POINTER(pIID);
    *pIID = iid_;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    RETURN_IF_NULL_POINTER(ppCPC);
    container_->AddRef();
    *ppCPC = container_;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(pdwCookie);
        *pdwCookie = 0;
        RETURN_IF_NULL_POINTER(pUnkSink);
        ComPtr<IUnknown> sink;
        if (FAILED(pUnkSink->QueryInterface(iid_, sink.put_void())) || !sink)
            return CONNECT_E_CANNOTCONNECT;
        // The limit check and the insertion are not atomic together; a second lock keeps two
        // racing Advise calls from both passing a limit of one.
        CsLock guard(advise_lock_);
        RETURN_HR_IF(CONNECT_E_ADVISELIMIT, advise_limit_ && sinks_.Size() >= advise_limit_);
        const DWORD cookie = sinks_.Add(std::move(sink));
        RETURN_HR_IF(E_OUTOFMEMORY, cookie == 0);
        *pdwCookie = cookie;
        return S_OK;
    });
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD dwCookie) {
    return ComBoundary([&]() -> HRESULT {
        ComPtr<IUnknown> sink;  // released after the registry's lock is left
        return sinks_.Remove(dwCookie, &sink) ? S_OK : CONNECT_E_NOCONNECTION;
    });
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppEnum);
        *ppEnum = nullptr;
        std::vector<ConnectDataCopy::Stored> connections;
        for (auto& entry : sinks_.Snapshot())
            connections.push_back({std::move(entry.second), entry.first});
        return CreateVectorEnum<com::EnumConnections>(std::move(connections), ppEnum);
    });
}

STDMETHODIMP ConnectionPointContainer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(ppEnum);
        *ppEnum = nullptr;
        std::vector<ComPtr<IConnectionPoint>> points;
        for (auto& point : points_) points.emplace_back(point.get());
        return CreateVectorEnum<com::EnumConnectionPoints>(std::move(points), ppEnum);
    });
}

STDMETHODIMP ConnectionPointContainer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    RETURN_IF_NULL_POINTER(ppCP);
    *ppCP = nullptr;
    ConnectionPoint* point = FindPoint(riid);
    if (!point) return CONNECT_E_NOCONNECTION;
    point->AddRef();
    *ppCP = point;
    return S_OK;
}

ConnectionPoint& ConnectionPointContainer::AddConnectionPoint(REFIID iid, DWORD advise_limit) {
    points_.push_back(std::make_unique<ConnectionPoint>(this, iid, advise_limit));
    return *points_.back();
}

ConnectionPoint* ConnectionPointContainer::FindPoint(REFIID iid) const noexcept {
    for (auto& point : points_)
        if (point->iid() == iid) return point.get();
    return nullptr;
}

}  // namespace com
