// com/Enum.h - enumerators over a vector: IEnumString, IEnumUnknown, IEnumVARIANT (and the
// connection-point ones used by com/ConnectionPoint.h). Clones share the items and copy the position.
//
//   return com::CreateEnumString(std::move(names), ppEnumString);
//
// Next returns S_FALSE when fewer than celt items remain (pceltFetched may be null only for
// celt == 1); strings are handed out in CoTaskMem, interfaces AddRef'd; Skip past the end
// returns S_FALSE and leaves the position at the end.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <ocidl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "com/ComPtr.h"
#include "com/Memory.h"
#include "com/Object.h"
#include "com/Result.h"
#include "com/Sync.h"
#include "com/Variant.h"

namespace com {

// Copy policies: Stored -> the item type of the interface.
struct StringCopy {
    static HRESULT Copy(const std::wstring& from, LPOLESTR* to) {
        return CoTaskMemString(from, to);
    }
    static void Destroy(LPOLESTR* item) { ::CoTaskMemFree(*item); }
};
template <class I>
struct InterfaceCopy {
    static HRESULT Copy(const ComPtr<I>& from, I** to) { return from.copy_to(to); }
    static void Destroy(I** item) {
        if (*item) (*item)->Release();
    }
};
struct ConnectDataCopy {
    struct Stored {
        ComPtr<IUnknown> sink;
        DWORD cookie;
    };
    static HRESULT Copy(const Stored& from, CONNECTDATA* to) {
        to->dwCookie = from.cookie;
        return from.sink.copy_to(&to->pUnk);
    }
    static void Destroy(CONNECTDATA* item) {
        if (item->pUnk) item->pUnk->Release();
    }
};

struct VariantCopy {
    static HRESULT Copy(const UniqueVariant& from, VARIANT* to) { return from.copy_to(to); }
    static void Destroy(VARIANT* item) { ::VariantClear(item); }
};

template <class IEnum, class Item, class Stored, class Policy>
class VectorEnum : public Object<IEnum> {
public:
    using Items = std::vector<Stored>;

    explicit VectorEnum(std::shared_ptr<const Items> items, size_t position = 0)
        : items_(std::move(items)), position_(position) {}

    STDMETHODIMP Next(ULONG celt, Item* rgelt, ULONG* pceltFetched) override {
        return ComBoundary([&]() -> HRESULT {
            if (pceltFetched) *pceltFetched = 0;
            RETURN_IF_NULL_POINTER(rgelt);
            RETURN_HR_IF(E_POINTER, celt > 1 && !pceltFetched);
            CsLock guard(lock_);
            ULONG fetched = 0;
            while (fetched < celt && position_ < items_->size()) {
                const HRESULT hr = Policy::Copy((*items_)[position_], &rgelt[fetched]);
                if (FAILED(hr)) {
                    for (ULONG i = 0; i < fetched; ++i) Policy::Destroy(&rgelt[i]);
                    position_ -= fetched;
                    return hr;
                }
                ++fetched;
                ++position_;
            }
            if (pceltFetched) *pceltFetched = fetched;
            return fetched == celt ? S_OK : S_FALSE;
        });
    }
    STDMETHODIMP Skip(ULONG celt) override {
        CsLock guard(lock_);
        const size_t remaining = items_->size() - position_;
        position_ += std::min<size_t>(celt, remaining);
        return celt <= remaining ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        CsLock guard(lock_);
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** ppEnum) override {
        return ComBoundary([&]() -> HRESULT {
            RETURN_IF_NULL_POINTER(ppEnum);
            *ppEnum = nullptr;
            size_t position;
            {
                CsLock guard(lock_);
                position = position_;
            }
            return CreateInstance<VectorEnum>(nullptr, __uuidof(IEnum),
                                              reinterpret_cast<void**>(ppEnum), items_, position);
        });
    }

private:
    const std::shared_ptr<const Items> items_;
    CriticalSection lock_;  // guards position_
    size_t position_;
};

using EnumString = VectorEnum<IEnumString, LPOLESTR, std::wstring, StringCopy>;
using EnumUnknown = VectorEnum<IEnumUnknown, IUnknown*, ComPtr<IUnknown>, InterfaceCopy<IUnknown>>;
using EnumVariant = VectorEnum<IEnumVARIANT, VARIANT, UniqueVariant, VariantCopy>;
using EnumConnectionPoints = VectorEnum<IEnumConnectionPoints, IConnectionPoint*,
                                        ComPtr<IConnectionPoint>, InterfaceCopy<IConnectionPoint>>;
using EnumConnections =
    VectorEnum<IEnumConnections, CONNECTDATA, ConnectDataCopy::Stored, ConnectDataCopy>;

// Creates an enumerator of Enum's kind over items (E_POINTER for a null out).
template <class Enum, class IEnum>
HRESULT CreateVectorEnum(std::vector<typename Enum::Items::value_type> items, IEnum** out) {
    RETURN_IF_NULL_POINTER(out);
    *out = nullptr;
    return ComBoundary([&]() -> HRESULT {
        auto shared = std::make_shared<const typename Enum::Items>(std::move(items));
        return CreateInstance<Enum>(nullptr, __uuidof(IEnum), reinterpret_cast<void**>(out),
                                    std::move(shared));
    });
}

inline HRESULT CreateEnumString(std::vector<std::wstring> items, IEnumString** out) {
    return CreateVectorEnum<EnumString>(std::move(items), out);
}
inline HRESULT CreateEnumUnknown(std::vector<ComPtr<IUnknown>> items, IEnumUnknown** out) {
    return CreateVectorEnum<EnumUnknown>(std::move(items), out);
}
inline HRESULT CreateEnumVariant(std::vector<UniqueVariant> items, IEnumVARIANT** out) {
    return CreateVectorEnum<EnumVariant>(std::move(items), out);
}

}  // namespace com
