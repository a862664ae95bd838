// com/Implementation.h - a checked downcast from an interface pointer to this module's own
// implementation class.
//
// A static_cast on an interface pointer is only sound when the object is known to be ours; a
// pointer that a client hands in may be a proxy or another component's object. The class
// answers a private IID (registered nowhere) with itself, so anything else casts to nullptr:
// a proxy cannot marshal the IID, and a foreign object does not know it.
//
//   class CGroup : public com::Object<IGroup> {
//   public:
//       static constexpr IID kImplementationIid = {...};  // a fresh GUID per class
//   protected:
//       HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override {
//           if (com::AnswerImplementation(this, riid, ppv)) return S_OK;
//           return E_NOINTERFACE;
//       }
//   };
//   CGroup* group = com::ImplementationOf<CGroup>(unknown);  // nullptr unless ours
//
// The result is not counted: it lives as long as the caller's reference through `unknown`.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace com {

// For T's QueryInterfaceHook: answers T::kImplementationIid with the object itself.
template <class T>
bool AnswerImplementation(T* self, REFIID riid, void** ppv) noexcept {
    if (riid != T::kImplementationIid) return false;
    self->AddRef();
    *ppv = self;
    return true;
}

template <class T>
T* ImplementationOf(IUnknown* unknown) noexcept {
    if (!unknown) return nullptr;
    void* self = nullptr;
    if (FAILED(unknown->QueryInterface(T::kImplementationIid, &self)) || !self) return nullptr;
    T* object = static_cast<T*>(self);
    object->Release();
    return object;
}

}  // namespace com
