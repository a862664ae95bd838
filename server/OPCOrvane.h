#pragma once

#include <windows.h>

#include <memory>

#include "BaseServer.h"
#include "com/ComPtr.h"
#include "com/ConnectionPoint.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "opc.h"
#include "orvane.h"
#include "ov_interaction.h"
#include "vkmodel.h"
#include "vkopc.h"

// The OPC server object: one per client creation. It binds the interaction
// object of the drive module, keeps the model root and owns the client's groups.
class OPCOrvane : public com::Object<IOPCOrvane, IOPCOV_NameSpace, com::Dual<ICBaseServer, 2>,
                                     com::Dual<ICBaseServer2, 2>, ISupportErrorInfo,
                                     com::ConnectionPointContainer> {
public:
    // The group timer period that every new group gets.
    static constexpr DWORD kGroupTick = 50;

    OPCOrvane();

    // IOPCOV_NameSpace
    STDMETHODIMP CheckNameSpace(long* plChecked) override;
    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    CBaseServer& core() { return *core_; }
    com::ComPtr<VKModelObject> model() const { return model_; }
    OPCSERVERSTATE state() const { return state_; }
    const FILETIME& startTime() const { return startTime_; }

protected:
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override;

private:
    HRESULT CreateInteraction();

    FILETIME startTime_ = {};
    OPCSERVERSTATE state_ = OPC_STATUS_NOCONFIG;
    DWORD tick_ = 500;  // becomes kGroupTick during construction
    com::ComPtr<IOrvaneInteraction> interaction_;
    com::ComPtr<VKModelObject> model_;
    std::shared_ptr<CBaseServer> core_;
};
