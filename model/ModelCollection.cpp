#include "ModelCollection.h"

#include <string>
#include <utility>
#include <vector>

#include "PathRules.h"
#include "com/Bstr.h"
#include "com/Enum.h"
#include "com/Result.h"
#include "com/SafeArray.h"

namespace model {
namespace {

template <class... Extra>
class CModelCollectionT : public com::Object<com::Dual<VKModelCollection>, Extra...> {
public:
    CModelCollectionT(CModelNode* owner, ListKind kind) : owner_(owner), kind_(kind) {}

    STDMETHODIMP GetItem(long lIndex, IUnknown** ppItem) override {
        RETURN_IF_NULL_POINTER(ppItem);
        *ppItem = nullptr;
        RETURN_HR_IF(E_INVALIDARG, !InRange(lIndex));
        return items().at(static_cast<size_t>(lIndex)).item.copy_to(ppItem);
    }
    STDMETHODIMP GetItemName(long lIndex, BSTR* pbsName) override {
        RETURN_IF_NULL_POINTER(pbsName);
        *pbsName = nullptr;
        RETURN_HR_IF(E_INVALIDARG, !InRange(lIndex));
        return com::AllocBstr(items().at(static_cast<size_t>(lIndex)).name, pbsName);
    }
    STDMETHODIMP GetCount(long* plCount) override {
        RETURN_IF_NULL_POINTER(plCount);
        *plCount = static_cast<long>(items().size());
        return S_OK;
    }
    STDMETHODIMP GetOwner(IUnknown** ppOwner) override {
        RETURN_IF_NULL_POINTER(ppOwner);
        *ppOwner = owner_->identity();
        (*ppOwner)->AddRef();
        return S_OK;
    }
    STDMETHODIMP GetNames(SAFEARRAY** psaNames) override {
        return com::ComBoundary([&]() -> HRESULT {
            RETURN_IF_NULL_POINTER(psaNames);
            *psaNames = nullptr;
            const NamedItems& list = items();
            com::UniqueSafeArray names(
                ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(list.size())));
            RETURN_IF_NULL_ALLOC(names.get());
            for (size_t i = 0; i < list.size(); ++i) {
                com::UniqueBstr name(list.at(i).name);
                LONG index = static_cast<LONG>(i);
                RETURN_IF_FAILED(::SafeArrayPutElement(names.get(), &index, name.get()));
            }
            *psaNames = names.release();
            return S_OK;
        });
    }
    STDMETHODIMP IndexOf(BSTR bsName, long* plIndex) override {
        RETURN_IF_NULL_POINTER(plIndex);
        const size_t index = items().Find(com::BstrView(bsName));
        *plIndex = index == NamedItems::npos ? -1 : static_cast<long>(index);
        return index == NamedItems::npos ? S_FALSE : S_OK;
    }
    STDMETHODIMP GetEnumerator(IUnknown** ppEnum) override {
        return com::ComBoundary([&]() -> HRESULT {
            RETURN_IF_NULL_POINTER(ppEnum);
            *ppEnum = nullptr;
            IEnumUnknown* enumerator = nullptr;
            RETURN_IF_FAILED(com::CreateEnumUnknown(items().Items(), &enumerator));
            *ppEnum = enumerator;
            return S_OK;
        });
    }
    // The parameter's rename relies on this answer to refuse a taken name.
    STDMETHODIMP Contains(BSTR bsName, BSTR* pbsPath) override {
        return com::ComBoundary([&]() -> HRESULT {
            if (pbsPath) *pbsPath = nullptr;
            const size_t index = items().Find(com::BstrView(bsName));
            if (index == NamedItems::npos) return S_FALSE;
            if (!pbsPath) return S_OK;
            std::wstring owner_path;
            RETURN_IF_FAILED(owner_->PathOf(&owner_path));
            RETURN_IF_FAILED(com::AllocBstr(JoinPath(owner_path, items().at(index).name), pbsPath));
            return S_OK;
        });
    }
    STDMETHODIMP NameOf(IUnknown* pItem, BSTR* pbsName) override {
        RETURN_IF_NULL_POINTER(pbsName);
        *pbsName = nullptr;
        RETURN_HR_IF(E_INVALIDARG, !pItem);
        com::ComPtr<IUnknown> identity;
        RETURN_IF_FAILED(pItem->QueryInterface(IID_IUnknown, identity.put_void()));
        const size_t index = items().FindItem(identity.get());
        if (index == NamedItems::npos) return S_FALSE;
        return com::AllocBstr(items().at(index).name, pbsName);
    }
    STDMETHODIMP GetItemByName(BSTR bsName, IUnknown** ppItem) override {
        RETURN_IF_NULL_POINTER(ppItem);
        *ppItem = nullptr;
        const size_t index = items().Find(com::BstrView(bsName));
        if (index == NamedItems::npos) return S_FALSE;
        return items().at(index).item.copy_to(ppItem);
    }

protected:
    CModelNode* owner() const noexcept { return owner_.get(); }

private:
    const NamedItems& items() const noexcept { return owner_->items(kind_); }
    bool InRange(long index) const noexcept {
        return index >= 0 && static_cast<size_t>(index) < items().size();
    }

    com::ComPtr<CModelNode> owner_;  // the collection keeps its node alive
    ListKind kind_;
};

using CObjectCollection = CModelCollectionT<>;

class CParameterCollection : public CModelCollectionT<VKModelCollectionReKey> {
public:
    using CModelCollectionT::CModelCollectionT;

    STDMETHODIMP ReKey(BSTR bsOldName, BSTR bsNewName) override {
        return com::ComBoundary([&] {
            return owner()->ReKeyParameter(com::BstrView(bsOldName), com::BstrView(bsNewName));
        });
    }
};

}  // namespace

HRESULT CreateModelCollection(CModelNode* owner, ListKind kind, VKModelCollection** out) {
    RETURN_IF_NULL_POINTER(out);
    *out = nullptr;
    void** slot = reinterpret_cast<void**>(out);
    if (kind == ListKind::kParameters) {
        return com::CreateInstance<CParameterCollection>(nullptr, IID_VKModelCollection, slot,
                                                         owner, kind);
    }
    return com::CreateInstance<CObjectCollection>(nullptr, IID_VKModelCollection, slot, owner,
                                                  kind);
}

}  // namespace model
