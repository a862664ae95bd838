#pragma once
// Client-side objects the connection object talks to in the tests: a
// parameter node that names an item, and a completion callback.

#include <windows.h>

#include <string>
#include <vector>

#include "NotImplemented.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "com/Variant.h"
#include "vkmodel.h"
#include "vkopcinteraction.h"

namespace vkopc_test {

// Implements what the connection object uses of a parameter node.
class FakeParameter : public com::Object<test_support::NotImplementedParameter<>> {
public:
    FakeParameter(std::wstring address, VARTYPE type) : address_(std::move(address)), type_(type) {}

    // What Init reported.
    bool initCalled = false;
    std::wstring initAddress;
    long initRights = 0;
    VARTYPE initType = VT_EMPTY;

    STDMETHODIMP GetInit(BSTR* pbsAccessPath, long* plAccessRights, VARTYPE* pvtDataType,
                         VARIANT* pvDefault) override {
        *pbsAccessPath = SysAllocString(address_.c_str());
        *plAccessRights = 3;
        *pvtDataType = type_;
        VariantInit(pvDefault);
        return S_OK;
    }
    STDMETHODIMP Init(BSTR bsAccessPath, long lAccessRights, VARTYPE vtDataType, VARIANT) override {
        initCalled = true;
        initAddress = bsAccessPath ? bsAccessPath : L"";
        initRights = lAccessRights;
        initType = vtDataType;
        return S_OK;
    }

private:
    std::wstring address_;
    VARTYPE type_;
};

struct Completion {
    bool isRead;
    long transactionId;
    long error;
    com::UniqueVariant data;
    VARTYPE qualityType;
    VARTYPE timeStampType;
};

// Records completions; in the MTA they arrive on RPC threads.
class RecordingCallback
    : public com::Object<test_support::NotImplementedDispatch<IvkAsyncCallback>> {
public:
    // Read only from the apartment's own thread (STA) or after Count() (MTA).
    std::vector<Completion> completions;

    RecordingCallback() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    // Set at every completion.
    HANDLE event() const { return event_.get(); }

    size_t Count() {
        com::CsLock guard(lock_);
        return completions.size();
    }

    STDMETHODIMP AsyncReadComplete(long lTransactionID, long lError, VARIANT vData,
                                   VARIANT vQuality, VARIANT vTimeStamp) override {
        com::CsLock guard(lock_);
        completions.push_back({true, lTransactionID, lError, com::UniqueVariant(vData),
                               V_VT(&vQuality), V_VT(&vTimeStamp)});
        SetEvent(event_.get());
        return S_OK;
    }
    STDMETHODIMP AsyncWriteComplete(long lTransactionID, long lError) override {
        com::CsLock guard(lock_);
        completions.push_back(
            {false, lTransactionID, lError, com::UniqueVariant(), VT_EMPTY, VT_EMPTY});
        SetEvent(event_.get());
        return S_OK;
    }

private:
    com::CriticalSection lock_;  // guards completions
    com::UniqueHandle event_;
};

}  // namespace vkopc_test
