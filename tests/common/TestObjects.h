// Small COM classes shared by the tests of the COM base.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <atomic>

#include "com/Object.h"
#include "comtest.h"

namespace comtest {

// Lifetime counters, reset by each test that reads them.
struct Counters {
    std::atomic<int> constructed{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> final_released{0};
    void Reset() {
        constructed = 0;
        destroyed = 0;
        final_released = 0;
    }
};
inline Counters& counters() {
    static Counters c;
    return c;
}

// IPersistStream (answering IPersist through Chain) and ITestCounter.
class CThing : public com::Object<com::Chain<IPersistStream, IPersist>, ITestCounter> {
public:
    CThing() { ++counters().constructed; }
    ~CThing() override { ++counters().destroyed; }

    STDMETHODIMP GetClassID(CLSID* clsid) override {
        *clsid = CLSID_NULL;
        return S_OK;
    }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(IStream*) override { return S_OK; }
    STDMETHODIMP Save(IStream*, BOOL) override { return S_OK; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Next(LONG* value) override {
        *value = ++count_;
        return S_OK;
    }

protected:
    void FinalRelease() override { ++counters().final_released; }

private:
    LONG count_ = 0;
};

}  // namespace comtest
