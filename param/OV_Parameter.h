// OV_Parameter: the parameter node of the drive interaction. The generic node
// plus its own class identity, the default name "OV_Parameter", the Axolent
// drive-profile properties 5001-5016 and the marker interface IOV_Parameter.
#pragma once

#include "com/Dispatch.h"
#include "ov_param.h"
#include "VkObjectParameter.h"

namespace ov {

class COV_Parameter : public vk::vkObjectParameter, public com::Dual<IOV_Parameter> {
public:
    COV_Parameter();

    // One IUnknown for both bases: the generic node's (aggregation aware).
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return vkObjectParameter::QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return vkObjectParameter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return vkObjectParameter::Release(); }

protected:
    // IDispatch is IOV_Parameter's, as for every class of this type library.
    void* FindInterface(REFIID riid) noexcept override;
};

}  // namespace ov
