// The singleton class factory: every creation in the process hands out the
// same object while it lives; after its last reference has gone (and it has
// torn down its connections) the next creation builds a new one.
#include <windows.h>
#include <objbase.h>

#include "com/ClassFactory.h"
#include "com/Object.h"
#include "com/Result.h"
#include "OPCInteraction.h"
#include "Singleton.h"
#include "vkopcinteraction.h"

namespace vkopc {
namespace {

COPCInteraction* g_instance = nullptr;  // not counted; guarded by SingletonLock()
ULONG_PTR g_apartment = 0;              // the apartment g_instance lives in

// Identifies the caller's apartment: a single-threaded one by its thread,
// the multithreaded one as a whole.
ULONG_PTR CurrentApartment() {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (FAILED(CoGetApartmentType(&type, &qualifier))) return 0;
    if (type == APTTYPE_STA || type == APTTYPE_MAINSTA) return GetCurrentThreadId();
    return static_cast<ULONG_PTR>(-1);
}

class COPCInteractionFactory : public com::Object<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return com::ComBoundary([&]() -> HRESULT {
            RETURN_IF_NULL_POINTER(ppv);
            *ppv = nullptr;
            RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr);
            com::CsLock guard(SingletonLock());
            const ULONG_PTR apartment = CurrentApartment();
            if (g_instance) {
                // The object is apartment-threaded; a raw pointer must not
                // leave its apartment.
                if (apartment != g_apartment) return RPC_E_WRONG_THREAD;
                return g_instance->QueryInterface(riid, ppv);
            }
            com::ComPtr<COPCInteraction> made;
            RETURN_IF_FAILED(com::MakeObject(&made));
            g_instance = made.get();
            g_apartment = apartment;
            return made->QueryInterface(riid, ppv);
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override { return com::ModuleLockServer(lock); }
};

const bool kRegistered = com::AddClassObject<COPCInteractionFactory>(CLSID_OPCInteraction);

}  // namespace

com::CriticalSection& SingletonLock() {
    static com::CriticalSection lock;
    return lock;
}

void ForgetSingleton(COPCInteraction* object) {
    com::CsLock guard(SingletonLock());
    if (g_instance == object) g_instance = nullptr;
}

}  // namespace vkopc
