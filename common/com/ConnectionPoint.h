// com/ConnectionPoint.h - IConnectionPointContainer / IConnectionPoint for one or more outgoing
// interfaces.
//
//   class CServer : public com::Object<IOPCServer, com::ConnectionPointContainer> {
//       CServer() { shutdown_ = &AddConnectionPoint(__uuidof(IOPCShutdown)); }
//       void NotifyShutdown(LPCWSTR reason) {
//           for (auto& sink : shutdown_->Sinks<IOPCShutdown>())   // snapshot; no lock held
//               sink->ShutdownRequest(reason);
//       }
//       com::ConnectionPoint* shutdown_;
//   };
//
// A connection point is a part of its container: AddRef/Release go to the container's
// reference count. Advise queries the sink for the outgoing IID (CONNECT_E_CANNOTCONNECT if it
// lacks it), returns a cookie from a handle registry and honours an optional advise limit
// (CONNECT_E_ADVISELIMIT); Unadvise of an unknown cookie gives CONNECT_E_NOCONNECTION.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <memory>
#include <vector>

#include "com/ComPtr.h"
#include "com/HandleRegistry.h"
#include "com/Object.h"
#include "com/Sync.h"

namespace com {

class ConnectionPoint final : public IConnectionPoint {
public:
    // advise_limit 0: no limit.
    ConnectionPoint(IConnectionPointContainer* container, REFIID iid, DWORD advise_limit = 0);
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return container_->Release(); }

    STDMETHODIMP GetConnectionInterface(IID* pIID) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override;

    REFIID iid() const noexcept { return iid_; }
    size_t size() const { return sinks_.Size(); }
    // The connected sinks at this moment, taken under the lock; call them after it is left.
    // Sink must be this point's outgoing interface (empty otherwise).
    template <class Sink>
    std::vector<ComPtr<Sink>> Sinks() const {
        std::vector<ComPtr<Sink>> result;
        if (__uuidof(Sink) != iid_) return result;
        for (auto& entry : sinks_.Snapshot())
            result.emplace_back(static_cast<Sink*>(entry.second.get()));
        return result;
    }
    // Drops every connection (for example when the container shuts down).
    void DisconnectAll() { sinks_.Clear(); }

private:
    IConnectionPointContainer* container_;  // owns this point
    const IID iid_;
    const DWORD advise_limit_;
    CriticalSection advise_lock_;  // makes the advise-limit check and the insertion one step
    // Each value holds the sink's pointer of the outgoing interface (queried at Advise).
    HandleRegistry<ComPtr<IUnknown>> sinks_;
};

// A base for Object<...> that implements IConnectionPointContainer over the points added in
// the derived class's constructor.
class ConnectionPointContainer : public IConnectionPointContainer {
public:
    using ComInterfaces = Iids<IConnectionPointContainer>;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

protected:
    ConnectionPointContainer() = default;
    ~ConnectionPointContainer() = default;

    // In the constructor only (the list is not locked). Throws std::bad_alloc.
    ConnectionPoint& AddConnectionPoint(REFIID iid, DWORD advise_limit = 0);
    ConnectionPoint* FindPoint(REFIID iid) const noexcept;

private:
    std::vector<std::unique_ptr<ConnectionPoint>> points_;
};

}  // namespace com
