// Test double of the drive-interaction component: registered under the real
// CLSID of OrvaneInteraction until OV_Interaction.dll is built. GetModel hands
// out a model root of the object model; the calls are counted in
// HKCU\Software\Axolent\OrvaneTest\InteractionStub so that tests can check
// that the server balances GetModel with ReleaseConnections.
#include <windows.h>
#include <objbase.h>

#include "TestDllExports.h"
#include "com/ClassFactory.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Log.h"
#include "com/Module.h"
#include "com/Registrar.h"
#include "com/Result.h"
#include "com/Sync.h"
#include "ov_interaction.h"

namespace {

constexpr wchar_t kCounterKey[] = L"Software\\Axolent\\OrvaneTest\\InteractionStub";

void CountCall(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kCounterKey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD count = 0;
    DWORD size = sizeof(count);
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
    ++count;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count));
    RegCloseKey(key);
}

class CInteractionStub : public com::Object<com::Dual<IOrvaneInteraction>> {
public:
    STDMETHODIMP GetModel(IUnknown** ppUnkModelRoot) override {
        return com::ComBoundary([&]() -> HRESULT {
            RETURN_HR_IF(E_INVALIDARG, !ppUnkModelRoot);
            *ppUnkModelRoot = nullptr;
            com::CsLock guard(lock_);
            if (!model_) {
                CLSID clsid;
                HRESULT hr = CLSIDFromProgID(L"VkObjectModel.ModelObject", &clsid);
                if (SUCCEEDED(hr))
                    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                          model_.put_void());
                if (FAILED(hr)) {
                    LOG_ERROR(
                        L"InteractionStub: VkObjectModel.ModelObject could not be created (%#lx); "
                        L"is VkObjectModel.dll registered?",
                        hr);
                    return hr;
                }
            }
            CountCall(L"GetModel");
            return model_.copy_to(ppUnkModelRoot);
        });
    }

    STDMETHODIMP ReleaseConnections() override {
        CountCall(L"ReleaseConnections");
        return S_OK;
    }

private:
    com::CriticalSection lock_;  // guards model_
    com::ComPtr<IUnknown> model_;
};

const bool kClassAdded =
    com::AddClassObject<com::ClassFactory<CInteractionStub>>(CLSID_OrvaneInteraction);

}  // namespace

TEST_DLL_EXPORTS(101)
