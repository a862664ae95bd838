#include "OPCOrvane.h"

#include "OPCBrowseImpl.h"
#include "OPCCommonImpl.h"
#include "OPCItemPropertiesImpl.h"
#include "OPCServerImpl.h"
#include "PersistFileImpl.h"
#include "UnknownCont.h"
#include "com/ErrorBox.h"
#include "com/Log.h"
#include "com/Module.h"
#include "com/Result.h"
#include "resource.h"

namespace {

std::wstring LoadModuleString(UINT id) {
    const wchar_t* text = nullptr;
    const int length =
        LoadStringW(com::Module::Get().handle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

HRESULT CreateInteractionOnce(com::ComPtr<IOrvaneInteraction>* out) {
    HRESULT hr = CoCreateInstance(CLSID_OrvaneInteraction, nullptr, CLSCTX_ALL,
                                  IID_IOrvaneInteraction, out->put_void());
    if (SUCCEEDED(hr) && !*out) hr = E_POINTER;
    return hr;
}

}  // namespace

OPCOrvane::OPCOrvane() { AddConnectionPoint(IID_IOPCShutdown); }

HRESULT OPCOrvane::CreateInteraction() {
    HRESULT hr = CreateInteractionOnce(&interaction_);
    if (FAILED(hr)) {
        // The drive module may still be starting up: one more try after a second.
        interaction_.reset();
        Sleep(1000);
        hr = CreateInteractionOnce(&interaction_);
    }
    if (FAILED(hr)) {
        interaction_.reset();
        LOG_ERROR(L"OPCOrvane: creating the interaction object failed with %#lx", hr);
        com::ReportErrorBox(LoadModuleString(IDS_NO_INTERACTION).c_str(),
                            LoadModuleString(IDS_ERROR_CAPTION).c_str(), MB_OK | MB_ICONERROR);
    }
    return hr;
}

HRESULT OPCOrvane::FinalConstruct() {
    CoFileTimeNow(&startTime_);
    RETURN_IF_FAILED(CreateInteraction());

    com::ComPtr<IUnknown> root;
    HRESULT hr = interaction_->GetModel(root.put());
    if (FAILED(hr) || !root) {
        // A failed GetModel may have opened connections all the same.
        if (FAILED(hr)) LOG_ERROR(L"OPCOrvane: GetModel failed with %#lx", hr);
        interaction_->ReleaseConnections();
        interaction_.reset();
        return FAILED(hr) ? hr : E_POINTER;
    }
    // Without a model the server still runs; browsing and items fail when they need it.
    if (root->QueryInterface(IID_VKModelObject, model_.put_void()) == S_OK)
        state_ = OPC_STATUS_RUNNING;
    else
        LOG_WARNING(L"OPCOrvane: the model root is no VKModelObject; state stays NOCONFIG");
    tick_ = kGroupTick;

    com::ComPtr<CUnknownCont> groups;
    RETURN_IF_FAILED(com::MakeObject(&groups));
    core_ = std::make_shared<CBaseServer>(std::move(groups), model_, tick_);
    return S_OK;
}

void OPCOrvane::FinalRelease() {
    // Groups first: their items unbind through the interaction component.
    if (core_) core_->Close();
    core_.reset();
    if (interaction_) interaction_->ReleaseConnections();
    model_.reset();
    interaction_.reset();
}

HRESULT OPCOrvane::QueryInterfaceHook(REFIID riid, void** ppv) {
    if (riid == IID_IOPCServer) return com::CreateTearOff<COPCServerImpl>(this, riid, ppv);
    if (riid == IID_IOPCCommon) return com::CreateTearOff<COPCCommonImpl>(this, riid, ppv);
    if (riid == IID_IOPCBrowseServerAddressSpace)
        return com::CreateTearOff<COPCBrowseServerAddressSpaceImpl>(this, riid, ppv);
    if (riid == IID_IOPCItemProperties)
        return com::CreateTearOff<COPCItemPropertiesImpl>(this, riid, ppv);
    if (riid == IID_IPersistFile) return com::CreateTearOff<CPersistFileImpl>(this, riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP OPCOrvane::CheckNameSpace(long* plChecked) {
    return com::ComBoundary([&]() -> HRESULT {
        RETURN_IF_NULL_POINTER(plChecked);
        if (!interaction_) return S_OK;
        auto nameSpace = interaction_.try_query<IOPCOVI_NameSpace>();
        if (!nameSpace) return S_OK;
        return nameSpace->CheckNameSpace(plChecked);
    });
}

STDMETHODIMP OPCOrvane::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID_ICBaseServer ? S_OK : S_FALSE;
}
