#include "com/Dispatch.h"

#include <map>

#include "com/ComPtr.h"
#include "com/Module.h"
#include "com/Strings.h"
#include "com/Sync.h"

namespace com {

HRESULT GetModuleTypeInfo(REFGUID iid, ITypeInfo** out, UINT typelib_index) noexcept {
    RETURN_IF_NULL_POINTER(out);
    *out = nullptr;
    return ComBoundary([&]() -> HRESULT {
        // Type libraries are free-threaded; one per resource index for the module's life.
        static CriticalSection lock;
        static std::map<UINT, ComPtr<ITypeLib>> libraries;
        ComPtr<ITypeLib> library;
        {
            CsLock guard(lock);
            ComPtr<ITypeLib>& cached = libraries[typelib_index];
            if (!cached) {
                std::wstring path = Module::Get().path();
                if (typelib_index != 1) path += Format(L"\\%u", typelib_index);
                RETURN_IF_FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, cached.put()));
            }
            library = cached;
        }
        return library->GetTypeInfoOfGuid(iid, out);
    });
}

}  // namespace com
