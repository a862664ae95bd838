// ModelTestParam.dll: the stand-in parameter class (see TestParameter.h).
#include "TestParameter.h"

#include <string>
#include <string_view>

#include "NotImplemented.h"
#include "TestDllExports.h"
#include "com/Bstr.h"
#include "com/ClassFactory.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Module.h"
#include "com/Object.h"
#include "com/Registrar.h"
#include "com/Result.h"
#include "com/Variant.h"
#include "vkmodel.h"

namespace {

// One method table answers VKModelParameter2, VKModelParameter and IDispatch.
struct DualParameter : com::Dual<VKModelParameter2> {
    using ComInterfaces = com::Iids<VKModelParameter2, VKModelParameter, IDispatch>;
};

class CTestParameter : public com::Object<test_support::NotImplementedParameter<DualParameter>> {
public:
    STDMETHODIMP GetName(BSTR* p) override { return com::AllocBstr(name_, p); }

    // The rename protocol of a parameter: separators, sibling objects, sibling
    // parameters (itself: no change), then the re-keying interface.
    STDMETHODIMP SetName(BSTR bsName) override {
        const std::wstring name(com::BstrView(bsName));
        RETURN_HR_IF(E_FAIL, name.empty());
        com::ComPtr<VKModelObject> parent;
        if (parent_ && SUCCEEDED(parent_->QueryInterface(IID_VKModelObject, parent.put_void()))) {
            com::UniqueBstr separators;
            if (SUCCEEDED(parent->GetSeparators(separators.put())) && !separators.empty() &&
                name.find_first_of(separators.str()) != std::wstring::npos)
                return E_FAIL;
            com::UniqueBstr text(name);
            com::ComPtr<VKModelCollection> objects;
            if (SUCCEEDED(parent->GetObjects(objects.put())) && objects) {
                com::UniqueBstr path;
                if (objects->Contains(text.get(), path.put()) == S_OK) return E_FAIL;
            }
            com::ComPtr<VKModelCollection> parameters;
            if (SUCCEEDED(parent->GetParameters(parameters.put())) && parameters) {
                com::ComPtr<IUnknown> found;
                if (SUCCEEDED(parameters->GetItemByName(text.get(), found.put())) && found) {
                    return com::IsSameObject(found.get(), GetControllingUnknown()) ? S_OK : E_FAIL;
                }
                com::ComPtr<VKModelCollectionReKey> rekey;
                RETURN_HR_IF(E_NOINTERFACE, FAILED(parameters.query(&rekey)));
                com::UniqueBstr old_name(name_);
                RETURN_IF_FAILED(rekey->ReKey(old_name.get(), text.get()));
            }
        }
        name_ = name;
        return S_OK;
    }
    STDMETHODIMP GetAccessPath(BSTR* p) override { return com::AllocBstr(access_path_, p); }
    STDMETHODIMP SetAccessPath(BSTR b) override {
        access_path_ = com::BstrView(b);
        return S_OK;
    }
    STDMETHODIMP GetParent(IUnknown** pp) override {
        RETURN_IF_NULL_POINTER(pp);
        *pp = nullptr;
        RETURN_HR_IF(E_POINTER, !parent_);
        return parent_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(pp));
    }
    STDMETHODIMP SetParent(IUnknown* p) override {
        RETURN_IF_NULL_POINTER(p);
        com::ComPtr<VKModelObject> node;
        RETURN_HR_IF(E_INVALIDARG, FAILED(p->QueryInterface(IID_VKModelObject, node.put_void())));
        com::ComPtr<IUnknown> identity;
        RETURN_IF_FAILED(p->QueryInterface(IID_IUnknown, identity.put_void()));
        parent_ = identity.get();  // weak, as a parameter keeps it
        return S_OK;
    }
    STDMETHODIMP GetPath(BSTR* p) override {
        RETURN_IF_NULL_POINTER(p);
        *p = nullptr;
        RETURN_HR_IF(E_FAIL, !parent_);
        com::ComPtr<VKModelObject> node;
        RETURN_HR_IF(E_FAIL, FAILED(parent_->QueryInterface(IID_VKModelObject, node.put_void())));
        com::UniqueBstr path;
        if (FAILED(node->GetPath(path.put())) || path.empty()) return com::AllocBstr(name_, p);
        return com::AllocBstr(path.str() + L"/" + name_, p);
    }
    STDMETHODIMP GetRelativePath(IUnknown* ancestor, BSTR* p) override {
        RETURN_IF_NULL_POINTER(p);
        *p = nullptr;
        com::ComPtr<VKModelObject> anc;
        RETURN_HR_IF(E_INVALIDARG, !ancestor || FAILED(ancestor->QueryInterface(IID_VKModelObject,
                                                                                anc.put_void())));
        RETURN_HR_IF(E_FAIL, !parent_);
        if (ancestor == parent_) return com::AllocBstr(name_, p);
        com::ComPtr<VKModelObject> node;
        RETURN_HR_IF(E_FAIL, FAILED(parent_->QueryInterface(IID_VKModelObject, node.put_void())));
        com::UniqueBstr path;
        if (FAILED(node->GetRelativePath(ancestor, path.put())) || path.empty())
            return com::AllocBstr(name_, p);
        return com::AllocBstr(path.str() + L"/" + name_, p);
    }
    STDMETHODIMP GetTag(long* p) override {
        RETURN_IF_NULL_POINTER(p);
        *p = tag_;
        return S_OK;
    }
    STDMETHODIMP SetTag(long t) override {
        tag_ = t;
        return S_OK;
    }
    STDMETHODIMP GetValue(VARIANT* p) override {
        RETURN_IF_NULL_POINTER(p);
        return value_.copy_to(p);
    }
    STDMETHODIMP SetValue(VARIANT v) override { return value_.copy_from(v); }

private:
    std::wstring name_ = L"TestParameter";
    std::wstring access_path_;
    IUnknown* parent_ = nullptr;  // not counted
    long tag_ = 0;
    com::UniqueVariant value_;
};

const bool kAdded = com::AddClassObject<com::ClassFactory<CTestParameter>>(kClsidTestParameter);

}  // namespace

TEST_DLL_EXPORTS(101)
