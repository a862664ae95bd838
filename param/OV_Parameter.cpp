#include "OV_Parameter.h"

namespace ov {
namespace {

const vk::ParameterClass kOvParameterClass = {&CLSID_OV_Parameter, L"OV_Parameter",
                                              &vk::kAxolentProperties};

}  // namespace

COV_Parameter::COV_Parameter() : vkObjectParameter(kOvParameterClass) {}

void* COV_Parameter::FindInterface(REFIID riid) noexcept {
    if (riid == IID_IOV_Parameter || riid == IID_IDispatch)
        return static_cast<IOV_Parameter*>(this);
    return vkObjectParameter::FindInterface(riid);
}

}  // namespace ov
