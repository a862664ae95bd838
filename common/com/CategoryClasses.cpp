#include "com/CategoryClasses.h"

#include "com/ComPtr.h"
#include "com/Result.h"

namespace com {
namespace {

// The manager's own text, freed with the task allocator.
std::wstring TakeTaskString(LPOLESTR text) {
    std::wstring result = text ? text : L"";
    ::CoTaskMemFree(text);
    return result;
}

bool Contains(const std::vector<CategoryClass>& classes, REFCLSID clsid) {
    for (const CategoryClass& known : classes)
        if (IsEqualCLSID(known.clsid, clsid)) return true;
    return false;
}

}  // namespace

HRESULT ListCategoryClasses(const std::vector<CATID>& categories, std::vector<CategoryClass>* out) {
    RETURN_IF_NULL_POINTER(out);
    out->clear();
    if (categories.empty()) return S_OK;
    return ComBoundary([&]() -> HRESULT {
        ComPtr<ICatInformation> manager;
        RETURN_IF_FAILED(::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr,
                                            CLSCTX_INPROC_SERVER, IID_PPV_ARGS(manager.put())));
        std::vector<CategoryClass> found;
        // One category per call: Wine's manager lists only the classes that implement every
        // category given, Windows' those that implement any; asking singly means "any" on both.
        for (CATID category : categories) {
            ComPtr<IEnumGUID> classes;
            // (ULONG)-1 required categories: no filter on required categories.
            RETURN_IF_FAILED(manager->EnumClassesOfCategories(1, &category, static_cast<ULONG>(-1),
                                                              nullptr, classes.put()));
            RETURN_HR_IF(E_UNEXPECTED, !classes);
            CLSID clsid;
            ULONG fetched = 0;
            while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
                if (Contains(found, clsid)) continue;
                CategoryClass entry;
                entry.clsid = clsid;
                LPOLESTR text = nullptr;
                if (SUCCEEDED(::ProgIDFromCLSID(clsid, &text))) entry.progId = TakeTaskString(text);
                text = nullptr;
                if (SUCCEEDED(::OleRegGetUserType(clsid, USERCLASSTYPE_FULL, &text)))
                    entry.userType = TakeTaskString(text);
                found.push_back(std::move(entry));
            }
        }
        *out = std::move(found);
        return S_OK;
    });
}

}  // namespace com
