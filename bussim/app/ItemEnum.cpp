#include "ItemEnum.h"

#include <memory>

#include "com/Memory.h"
#include "com/Object.h"
#include "com/Sync.h"

namespace bussim {
namespace {

using Items = std::vector<ItemAttributes>;

void FreeAttributes(OPCITEMATTRIBUTES* a) {
    CoTaskMemFree(a->szAccessPath);
    CoTaskMemFree(a->szItemID);
    VariantClear(&a->vEUInfo);
}

class CItemAttributesEnum : public com::Object<IEnumOPCItemAttributes> {
public:
    CItemAttributesEnum(std::shared_ptr<const Items> items, size_t position)
        : items_(std::move(items)), position_(position) {}

    STDMETHODIMP Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override {
        return com::ComBoundary([&]() -> HRESULT {
            RETURN_HR_IF(E_INVALIDARG, !ppItemArray || !pceltFetched);
            *ppItemArray = nullptr;
            *pceltFetched = 0;
            com::CsLock guard(lock_);
            const size_t n = std::min<size_t>(celt, items_->size() - position_);
            com::CoTaskMem<OPCITEMATTRIBUTES> out;
            RETURN_HR_IF(E_OUTOFMEMORY, !out.alloc(n));
            for (size_t i = 0; i < n; ++i) {
                const ItemAttributes& from = (*items_)[position_ + i];
                OPCITEMATTRIBUTES& to = out[i];
                HRESULT hr = com::CoTaskMemString(L"", &to.szAccessPath);
                if (SUCCEEDED(hr)) hr = com::CoTaskMemString(from.itemId, &to.szItemID);
                if (FAILED(hr)) {
                    for (size_t k = 0; k <= i; ++k) FreeAttributes(&out[k]);
                    return hr;
                }
                to.bActive = from.active;
                to.hClient = from.hClient;
                to.hServer = from.hServer;
                to.dwAccessRights = from.rights;
                to.vtRequestedDataType = from.requested;
                to.vtCanonicalDataType = from.canonical;
                to.dwEUType = OPC_NOENUM;
                VariantInit(&to.vEUInfo);
            }
            position_ += n;
            *pceltFetched = static_cast<ULONG>(n);
            *ppItemArray = out.release();
            return n == celt ? S_OK : S_FALSE;
        });
    }
    STDMETHODIMP Skip(ULONG celt) override {
        com::CsLock guard(lock_);
        const size_t remaining = items_->size() - position_;
        position_ += std::min<size_t>(celt, remaining);
        return celt <= remaining ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        com::CsLock guard(lock_);
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumOPCItemAttributes** ppEnum) override {
        return com::ComBoundary([&]() -> HRESULT {
            RETURN_IF_NULL_POINTER(ppEnum);
            *ppEnum = nullptr;
            size_t position;
            {
                com::CsLock guard(lock_);
                position = position_;
            }
            return com::CreateInstance<CItemAttributesEnum>(
                nullptr, __uuidof(IEnumOPCItemAttributes), reinterpret_cast<void**>(ppEnum), items_,
                position);
        });
    }

private:
    const std::shared_ptr<const Items> items_;
    com::CriticalSection lock_;  // guards position_
    size_t position_;
};

}  // namespace

HRESULT CreateItemAttributesEnum(std::vector<ItemAttributes> items, IEnumOPCItemAttributes** out) {
    RETURN_IF_NULL_POINTER(out);
    *out = nullptr;
    return com::ComBoundary([&]() -> HRESULT {
        auto shared = std::make_shared<const Items>(std::move(items));
        return com::CreateInstance<CItemAttributesEnum>(nullptr, __uuidof(IEnumOPCItemAttributes),
                                                        reinterpret_cast<void**>(out), shared,
                                                        size_t{0});
    });
}

}  // namespace bussim
