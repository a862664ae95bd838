#include "VkObjectParameter.h"

#include <oleauto.h>

#include <new>

#include "com/Bstr.h"
#include "com/Memory.h"
#include "com/Module.h"
#include "com/Result.h"
#include "com/Sync.h"
#include "ErrorReport.h"
#include "Messages.h"
#include "ParameterNaming.h"
#include "StorageFormat.h"
#include "StorageNames.h"
#include "ValueRange.h"
#include "VarTypes.h"

namespace vk {
namespace {

const ParameterClass kGenericClass = {&CLSID_vkObjectParameter, L"vkObjectParameter", nullptr};

// Reports a text and returns hr, so that a failure can end a method in one line.
template <class... Args>
HRESULT Fail(HRESULT hr, const char* format, Args... args) {
    ReportError(format, args...);
    return hr;
}

HRESULT NullResult() { return Fail(E_POINTER, msg::kNullResult); }

HRESULT InterfaceMissing(HRESULT hr, const char* interface_name) {
    return Fail(hr, msg::kInterfaceMissing, interface_name);
}

HRESULT AllocText(std::wstring_view text, BSTR* out) {
    const HRESULT hr = com::AllocBstr(text, out);
    return hr == E_OUTOFMEMORY ? Fail(hr, msg::kOutOfMemory) : hr;
}

// A stored VARIANT must not point into the caller's memory: by-reference
// arguments are copied with what they refer to.
HRESULT Dereference(const VARIANT& v, com::UniqueVariant* out) {
    const HRESULT hr = VariantCopyInd(out->put(), const_cast<VARIANT*>(&v));
    return FAILED(hr) ? Fail(hr, msg::kVariantCopy) : hr;
}

HRESULT CopyOut(const com::UniqueVariant& source, VARIANT* out) {
    if (!out) return NullResult();
    const HRESULT hr = source.copy_to(out);
    return FAILED(hr) ? Fail(hr, msg::kVariantCopy) : hr;
}

HRESULT FileTimeToDate(const FILETIME& time, DATE* date) {
    SYSTEMTIME system = {};
    if (!FileTimeToSystemTime(&time, &system)) return E_FAIL;
    return SystemTimeToVariantTime(&system, date) ? S_OK : E_FAIL;
}

HRESULT DateToFileTime(DATE date, FILETIME* time) {
    SYSTEMTIME system = {};
    if (!VariantTimeToSystemTime(date, &system)) return E_INVALIDARG;
    return SystemTimeToFileTime(&system, time) ? S_OK : E_INVALIDARG;
}

}  // namespace

// --- IDispatch through the object model's type library --------------------

HRESULT GetModelParameterTypeInfo(ITypeInfo** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Never destroyed by a static destructor: at process exit oleaut32 may be
    // gone; an unloaded module releases it through its termination functions.
    struct Cache {
        com::CriticalSection lock;
        com::ComPtr<ITypeInfo> info;  // guarded by lock
    };
    static Cache* cache = new Cache;
    com::CsLock guard(cache->lock);
    if (!cache->info) {
        com::ComPtr<ITypeLib> library;
        RETURN_IF_FAILED(
            LoadRegTypeLib(LIBID_VKOBJECTMODELLib, 1, 0, LOCALE_NEUTRAL, library.put()));
        RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID_VKModelParameter2, cache->info.put()));
        com::Module::Get().AddTermFunc([] {
            com::CsLock guard(cache->lock);
            cache->info.reset();
        });
    }
    return cache->info.copy_to(out);
}

STDMETHODIMP ModelParameterDispatch::GetTypeInfoCount(UINT* pctinfo) {
    RETURN_IF_NULL_POINTER(pctinfo);
    *pctinfo = 1;
    return S_OK;
}

STDMETHODIMP ModelParameterDispatch::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    RETURN_IF_NULL_POINTER(ppTInfo);
    *ppTInfo = nullptr;
    RETURN_HR_IF(DISP_E_BADINDEX, iTInfo != 0);
    return GetModelParameterTypeInfo(ppTInfo);
}

STDMETHODIMP ModelParameterDispatch::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                   LCID, DISPID* rgDispId) {
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
    com::ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetModelParameterTypeInfo(info.put()));
    return DispGetIDsOfNames(info.get(), rgszNames, cNames, rgDispId);
}

STDMETHODIMP ModelParameterDispatch::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                            DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                            EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, riid != IID_NULL);
    com::ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(GetModelParameterTypeInfo(info.put()));
    return DispInvoke(static_cast<VKModelParameter2*>(this), info.get(), dispIdMember, wFlags,
                      pDispParams, pVarResult, pExcepInfo, puArgErr);
}

// --- construction ----------------------------------------------------------

vkObjectParameter::vkObjectParameter() : vkObjectParameter(kGenericClass) {}

vkObjectParameter::vkObjectParameter(const ParameterClass& parameter_class)
    : name_(parameter_class.default_name), class_id_(*parameter_class.clsid) {
    if (const ExtraPropertyTable* table = parameter_class.extra_properties) {
        extra_properties_.reserve(table->count);
        for (size_t i = 0; i < table->count; ++i)
            extra_properties_.push_back({&table->rows[i], {}});
    }
}

HRESULT vkObjectParameter::FinalConstruct() {
    // Without a notifier the node works, it just tells nobody.
    CoCreateInstance(CLSID_ChangeNotifier, nullptr, CLSCTX_INPROC_SERVER, IID_VKChangeNotifier,
                     notifier_.put_void());
    return S_OK;
}

void vkObjectParameter::Changed() {
    dirty_ = true;
    if (notifier_) notifier_->OnAttributeChanged(GetControllingUnknown());
}

void vkObjectParameter::NotifyValueChanged() {
    if (!notifier_) return;
    com::UniqueVariant copy;
    value_.copy_to(copy.put());
    notifier_->OnValueChanged(GetControllingUnknown(), *copy.get());
}

HRESULT vkObjectParameter::StoreText(BSTR text, std::wstring* field) {
    try {
        std::wstring copy(com::BstrView(text));
        field->swap(copy);
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY, msg::kOutOfMemory);
    }
    Changed();
    return S_OK;
}

HRESULT vkObjectParameter::ParentModelObject(com::ComPtr<VKModelObject>* parent) const {
    if (!parent_) return Fail(E_FAIL, msg::kNoParent);
    if (FAILED(parent_->QueryInterface(IID_VKModelObject, parent->put_void())))
        return InterfaceMissing(E_FAIL, "VKModelObject");
    return S_OK;
}

// --- name, access path, parent and paths -----------------------------------

STDMETHODIMP vkObjectParameter::GetName(BSTR* pbsName) {
    return com::ComBoundary([&] { return pbsName ? AllocText(name_, pbsName) : NullResult(); });
}

STDMETHODIMP vkObjectParameter::SetName(BSTR bsName) {
    return com::ComBoundary([&]() -> HRESULT {
        if (is_internal()) return Fail(S_FALSE, msg::kInternalParameter);
        std::wstring name;
        try {
            name.assign(com::BstrView(bsName));
        } catch (const std::bad_alloc&) {
            return Fail(E_OUTOFMEMORY, msg::kOutOfMemory);
        }
        if (name.empty()) return Fail(E_FAIL, msg::kEmptyName);

        com::ComPtr<VKModelObject> parent;
        if (parent_ && SUCCEEDED(parent_->QueryInterface(IID_VKModelObject, parent.put_void()))) {
            com::UniqueBstr separators;
            if (SUCCEEDED(parent->GetSeparators(separators.put())) &&
                ContainsSeparator(name.c_str(), separators.str().c_str()))
                return Fail(E_FAIL, msg::kSeparatorInName);

            const com::UniqueBstr new_name(name);
            com::ComPtr<VKModelCollection> objects;
            if (SUCCEEDED(parent->GetObjects(objects.put())) && objects) {
                com::UniqueBstr path;
                if (objects->Contains(new_name.get(), path.put()) == S_OK)
                    return Fail(E_FAIL, msg::kNameTaken, AnsiText(name).c_str());
            }
            com::ComPtr<VKModelCollection> parameters;
            if (SUCCEEDED(parent->GetParameters(parameters.put())) && parameters) {
                com::ComPtr<IUnknown> entry;
                if (SUCCEEDED(parameters->GetItemByName(new_name.get(), entry.put())) && entry) {
                    if (com::IsSameObject(entry.get(), GetControllingUnknown())) return S_OK;
                    return Fail(E_FAIL, msg::kNameTaken, AnsiText(name).c_str());
                }
                // The parent's list is re-keyed first, so that list and node agree.
                com::ComPtr<VKModelCollectionReKey> rekey;
                RETURN_IF_FAILED(parameters.query(&rekey));
                const com::UniqueBstr old_name(name_);
                RETURN_IF_FAILED(rekey->ReKey(old_name.get(), new_name.get()));
            }
        }
        name_.swap(name);
        Changed();
        return S_OK;
    });
}

STDMETHODIMP vkObjectParameter::GetAccessPath(BSTR* pbsAccessPath) {
    return com::ComBoundary(
        [&] { return pbsAccessPath ? AllocText(access_path_, pbsAccessPath) : NullResult(); });
}

STDMETHODIMP vkObjectParameter::SetAccessPath(BSTR bsAccessPath) {
    return com::ComBoundary([&] { return StoreText(bsAccessPath, &access_path_); });
}

STDMETHODIMP vkObjectParameter::GetParent(IUnknown** ppParent) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!ppParent) return NullResult();
        *ppParent = nullptr;
        if (!parent_) return Fail(E_POINTER, msg::kNoParent);
        const HRESULT hr =
            parent_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ppParent));
        return FAILED(hr) ? InterfaceMissing(hr, "IUnknown") : hr;
    });
}

STDMETHODIMP vkObjectParameter::SetParent(IUnknown* pParent) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!pParent) return Fail(E_POINTER, msg::kNullPointer);
        com::ComPtr<VKModelObject> model_object;
        if (FAILED(pParent->QueryInterface(IID_VKModelObject, model_object.put_void())))
            return InterfaceMissing(E_INVALIDARG, "VKModelObject");
        if (parent_ && is_internal()) return Fail(S_FALSE, msg::kInternalParameter);
        // A proxy dies after this call: only a parent in this apartment can be kept
        // without a reference. Standard proxies answer IClientSecurity.
        if (model_object.try_query<IClientSecurity>()) return RPC_E_WRONG_THREAD;
        com::ComPtr<IUnknown> identity;
        const HRESULT hr = pParent->QueryInterface(IID_IUnknown, identity.put_void());
        if (FAILED(hr)) return InterfaceMissing(hr, "IUnknown");
        parent_ = identity.get();  // not counted: the parent outlives its parameters
        dirty_ = true;
        return S_OK;
    });
}

// From then on the parameter answers as one without a parent. Internal parameters
// too: their parent is gone either way.
STDMETHODIMP vkObjectParameter::ParentGone(IUnknown* pParent) {
    if (!pParent || pParent != parent_) return S_FALSE;
    parent_ = nullptr;
    return S_OK;
}

STDMETHODIMP vkObjectParameter::GetPath(BSTR* pbsPath) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!pbsPath) return NullResult();
        *pbsPath = nullptr;
        com::ComPtr<VKModelObject> parent;
        RETURN_IF_FAILED(ParentModelObject(&parent));
        com::UniqueBstr parent_path;
        if (FAILED(parent->GetPath(parent_path.put())) || parent_path.empty())
            return AllocText(name_, pbsPath);
        return AllocText(parent_path.str() + L"/" + name_, pbsPath);
    });
}

STDMETHODIMP vkObjectParameter::GetRelativePath(IUnknown* pAncestor, BSTR* pbsPath) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!pbsPath) return NullResult();
        *pbsPath = nullptr;
        com::ComPtr<VKModelObject> ancestor;
        if (!pAncestor || FAILED(pAncestor->QueryInterface(IID_VKModelObject, ancestor.put_void())))
            return InterfaceMissing(E_INVALIDARG, "VKModelObject");
        com::ComPtr<VKModelObject> parent;
        RETURN_IF_FAILED(ParentModelObject(&parent));
        // Identity, not raw pointers: the caller may pass any interface of the parent.
        if (com::IsSameObject(pAncestor, parent_)) return AllocText(name_, pbsPath);
        com::UniqueBstr parent_path;
        if (FAILED(parent->GetRelativePath(pAncestor, parent_path.put())) || parent_path.empty())
            return AllocText(name_, pbsPath);
        return AllocText(parent_path.str() + L"/" + name_, pbsPath);
    });
}

// --- attributes ------------------------------------------------------------

STDMETHODIMP vkObjectParameter::Init(BSTR bsAccessPath, long lAccessRights, VARTYPE vtDataType,
                                     VARIANT vDefault) {
    RETURN_IF_FAILED(SetAccessPath(bsAccessPath));
    RETURN_IF_FAILED(SetAccessRights(lAccessRights));
    return SetDataType(vtDataType, vDefault);
}

STDMETHODIMP vkObjectParameter::GetInit(BSTR* pbsAccessPath, long* plAccessRights,
                                        VARTYPE* pvtDataType, VARIANT* pvDefault) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!pbsAccessPath || !plAccessRights || !pvtDataType || !pvDefault) return NullResult();
        *pbsAccessPath = nullptr;
        VariantInit(pvDefault);
        com::UniqueBstr access_path;
        RETURN_IF_FAILED(AllocText(access_path_, access_path.put()));
        const HRESULT hr = default_value_.copy_to(pvDefault);
        if (FAILED(hr)) return Fail(hr, msg::kVariantCopy);
        *pbsAccessPath = access_path.release();
        *plAccessRights = access_rights_;
        *pvtDataType = data_type_;
        return hr;
    });
}

STDMETHODIMP vkObjectParameter::GetTag(long* plTag) {
    if (!plTag) return NullResult();
    *plTag = tag_;
    return S_OK;
}

STDMETHODIMP vkObjectParameter::SetTag(long lTag) {
    tag_ = lTag;
    Changed();
    return S_OK;
}

STDMETHODIMP vkObjectParameter::GetInteractionCLSID(BSTR* pbsCLSID) {
    if (!pbsCLSID) return NullResult();
    *pbsCLSID = nullptr;
    wchar_t text[40] = {};
    if (!StringFromGUID2(interaction_clsid_, text, static_cast<int>(std::size(text))))
        return Fail(E_FAIL, msg::kClsidToString);
    *pbsCLSID = SysAllocString(text);
    return *pbsCLSID ? S_OK : Fail(E_FAIL, msg::kOutOfMemory);
}

STDMETHODIMP vkObjectParameter::SetInteractionCLSID(BSTR bsCLSID) {
    CLSID clsid = GUID_NULL;
    const HRESULT hr = CLSIDFromString(bsCLSID ? bsCLSID : const_cast<wchar_t*>(L""), &clsid);
    if (FAILED(hr)) return Fail(hr, msg::kClsidFromString);
    interaction_clsid_ = clsid;
    Changed();
    return S_OK;
}

STDMETHODIMP vkObjectParameter::GetFormat(BSTR* pbsFormat) {
    return com::ComBoundary(
        [&] { return pbsFormat ? AllocText(format_, pbsFormat) : NullResult(); });
}

STDMETHODIMP vkObjectParameter::SetFormat(BSTR bsFormat) {
    return com::ComBoundary([&] { return StoreText(bsFormat, &format_); });
}

// A reference for the caller, as for every COM out-pointer: a marshaller
// releases what it carried, and an uncounted pointer would then destroy the node.
STDMETHODIMP vkObjectParameter::GetIdentity(IUnknown** ppIdentity) {
    if (!ppIdentity) return NullResult();
    *ppIdentity = GetControllingUnknown();
    (*ppIdentity)->AddRef();
    return S_OK;
}

STDMETHODIMP vkObjectParameter::GetFlags(unsigned short* pwFlags) {
    if (!pwFlags) return NullResult();
    *pwFlags = flags_;
    return S_OK;
}

STDMETHODIMP vkObjectParameter::SetFlags(unsigned short wFlags) {
    flags_ = wFlags;
    Changed();
    return S_OK;
}

STDMETHODIMP vkObjectParameter::GetAccessRights(long* plAccessRights) {
    if (!plAccessRights) return NullResult();
    *plAccessRights = access_rights_;
    return S_OK;
}

STDMETHODIMP vkObjectParameter::SetAccessRights(long lAccessRights) {
    access_rights_ = lAccessRights;
    Changed();
    return S_OK;
}

// --- value, limits and data type -------------------------------------------

STDMETHODIMP vkObjectParameter::GetValue(VARIANT* pvValue) {
    return com::ComBoundary([&] { return CopyOut(value_, pvValue); });
}

STDMETHODIMP vkObjectParameter::GetMin(VARIANT* pvMin) {
    return com::ComBoundary([&] { return CopyOut(min_, pvMin); });
}

STDMETHODIMP vkObjectParameter::GetMax(VARIANT* pvMax) {
    return com::ComBoundary([&] { return CopyOut(max_, pvMax); });
}

STDMETHODIMP vkObjectParameter::SetValue(VARIANT vValue) {
    return com::ComBoundary([&]() -> HRESULT {
        com::UniqueVariant v;
        RETURN_IF_FAILED(Dereference(vValue, &v));
        // The checks only explain; the value is stored in any case.
        if (v.vt() == data_type_) {
            if ((min_.vt() != VT_EMPTY || max_.vt() != VT_EMPTY) &&
                IsOutOfRange(*v.get(), *min_.get(), *max_.get(), data_type_)) {
                ReportError(msg::kOutOfRange, AnsiText(VariantText(*v.get())).c_str(),
                            AnsiText(VariantText(*min_.get())).c_str(),
                            AnsiText(VariantText(*max_.get())).c_str());
            }
        } else {
            ReportError(msg::kTypeMismatch, VarTypeName(v.vt()).c_str(), msg::kOfValue,
                        VarTypeName(data_type_).c_str());
        }
        const HRESULT hr = StoreValue(*v.get());
        dirty_ = true;
        NotifyValueChanged();
        return hr;
    });
}

HRESULT vkObjectParameter::StoreValue(const VARIANT& v) {
    value_.reset();
    if (data_type_ == VT_EMPTY || data_type_ == V_VT(&v)) {
        const HRESULT hr = value_.copy_from(v);
        if (FAILED(hr)) return Fail(hr, msg::kVariantCopy);
        data_type_ = V_VT(&v);
        return hr;
    }
    const HRESULT hr = VariantChangeType(value_.get(), const_cast<VARIANT*>(&v), 0, data_type_);
    if (FAILED(hr)) {
        value_.reset();
        return Fail(hr, msg::kConversion, VarTypeName(data_type_).c_str(),
                    VarTypeName(V_VT(&v)).c_str());
    }
    return hr;
}

STDMETHODIMP vkObjectParameter::SetMin(VARIANT vMin) {
    return com::ComBoundary([&] { return SetBound(vMin, true); });
}

STDMETHODIMP vkObjectParameter::SetMax(VARIANT vMax) {
    return com::ComBoundary([&] { return SetBound(vMax, false); });
}

// SetMin and SetMax: the new bound is checked against the other one, then
// stored whatever the check found.
HRESULT vkObjectParameter::SetBound(const VARIANT& bound, bool is_min) {
    com::UniqueVariant v;
    RETURN_IF_FAILED(Dereference(bound, &v));
    const com::UniqueVariant& other = is_min ? max_ : min_;
    HRESULT result = S_OK;
    if (v.vt() == data_type_) {
        com::UniqueVariant limit;
        result = other.copy_to(limit.put());
        // An unset other bound converts to 0 and is compared as such.
        if (SUCCEEDED(result) && limit.vt() != data_type_)
            result = VariantChangeType(limit.get(), limit.get(), 0, data_type_);
        double number = 0, limit_number = 0;
        if (SUCCEEDED(result) && TakesPartInRangeCheck(data_type_) &&
            SUCCEEDED(NumericValue(*v.get(), data_type_, &number)) &&
            SUCCEEDED(NumericValue(*limit.get(), data_type_, &limit_number)) &&
            (is_min ? number > limit_number : number < limit_number)) {
            ReportError(is_min ? msg::kMinAboveMax : msg::kMaxBelowMin,
                        AnsiText(VariantText(*limit.get())).c_str());
            result = S_FALSE;
        }
    } else {
        ReportError(msg::kTypeMismatch, VarTypeName(v.vt()).c_str(),
                    is_min ? msg::kOfMinimum : msg::kOfMaximum, VarTypeName(data_type_).c_str());
        result = S_FALSE;
    }
    com::UniqueVariant& field = is_min ? min_ : max_;
    field = std::move(v);
    Changed();
    return result;
}

STDMETHODIMP vkObjectParameter::SetDataType(VARTYPE vtDataType, VARIANT vDefault) {
    return com::ComBoundary([&]() -> HRESULT {
        const VARTYPE base = BaseType(vtDataType);
        if (!IsValidDataType(vtDataType))
            return Fail(E_INVALIDARG, msg::kInvalidDataType, int{base});
        com::UniqueVariant default_value;
        RETURN_IF_FAILED(Dereference(vDefault, &default_value));
        if (default_value.vt() != vtDataType) {
            const VARTYPE given = default_value.vt();
            const HRESULT hr =
                VariantChangeType(default_value.get(), default_value.get(), 0, vtDataType);
            if (FAILED(hr)) {
                // No default for an array type: an empty one of the element type.
                SAFEARRAY* empty = given == VT_EMPTY && (vtDataType & VT_ARRAY)
                                       ? SafeArrayCreateVector(base, 0, 0)
                                       : nullptr;
                if (!empty) {
                    return Fail(hr, msg::kConversion, VarTypeName(base).c_str(),
                                VarTypeName(BaseType(given)).c_str());
                }
                VARIANT array;
                VariantInit(&array);
                V_VT(&array) = VT_ARRAY | base;
                V_ARRAY(&array) = empty;
                default_value.reset(array);
            }
        }
        data_type_ = vtDataType;
        HRESULT hr = default_value_.copy_from(*default_value.get());
        if (SUCCEEDED(hr)) hr = value_.copy_from(*default_value.get());
        if (FAILED(hr)) return Fail(hr, msg::kVariantCopy);
        Changed();
        return S_OK;
    });
}

// --- item properties -------------------------------------------------------

vkObjectParameter::ExtraProperty* vkObjectParameter::FindExtraProperty(DWORD id) {
    for (ExtraProperty& property : extra_properties_)
        if (property.row->id == id) return &property;
    return nullptr;
}

vkObjectParameter::ExtraProperty* vkObjectParameter::FindExtraPropertyByName(const wchar_t* name) {
    for (ExtraProperty& property : extra_properties_)
        if (wcscmp(property.row->name, name) == 0) return &property;
    return nullptr;
}

HRESULT vkObjectParameter::ReadExtraProperty(const ExtraProperty& property, VARIANT* value) const {
    if (property.row->access == kWriteOnly) return E_ACCESSDENIED;
    if (property.row->availability == kFromDevice) return kPropertyFromDevice;
    return property.value.copy_to(value);
}

// One served property into an initialised VARIANT; standard ids 1-6 only.
HRESULT vkObjectParameter::ReadProperty(DWORD id, VARIANT* value) const {
    switch (id) {
        case 1:
            V_VT(value) = VT_I2;
            V_I2(value) = static_cast<SHORT>(data_type_);
            return S_OK;
        case 2: return value_.copy_to(value);
        case 3:
            V_VT(value) = VT_I2;
            V_I2(value) = static_cast<SHORT>(quality_);
            return S_OK;
        case 4: {
            DATE date = 0;
            RETURN_IF_FAILED(FileTimeToDate(time_stamp_, &date));
            V_VT(value) = VT_DATE;
            V_DATE(value) = date;
            return S_OK;
        }
        case 5:
            V_VT(value) = VT_I4;
            V_I4(value) = access_rights_;
            return S_OK;
        case 6:
            V_VT(value) = VT_R4;
            V_R4(value) = 0.0f;
            return S_OK;
        default: return kOpcInvalidPid;
    }
}

STDMETHODIMP vkObjectParameter::QueryAvailableProperties(DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                         LPWSTR** ppDescriptions,
                                                         VARTYPE** ppvtDataTypes) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes)
            return Fail(E_INVALIDARG, msg::kNullResult);
        *pdwCount = 0;
        *ppPropertyIDs = nullptr;
        *ppDescriptions = nullptr;
        *ppvtDataTypes = nullptr;
        const size_t count = kLastServedStandardId + extra_properties_.size();
        com::CoTaskMem<DWORD> ids;
        com::CoTaskMemStrings descriptions;
        com::CoTaskMem<VARTYPE> types;
        if (!ids.alloc(count) || !descriptions.alloc(count) || !types.alloc(count))
            return Fail(E_OUTOFMEMORY, msg::kOutOfMemory);
        for (size_t i = 0; i < count; ++i) {
            const wchar_t* description;
            if (i < kLastServedStandardId) {
                const StandardProperty* property = FindStandardProperty(static_cast<DWORD>(i + 1));
                ids[i] = property->id;
                description = property->description;
                types[i] = property->id == 2 ? data_type_ : property->type;
            } else {
                const ExtraPropertyRow* row = extra_properties_[i - kLastServedStandardId].row;
                ids[i] = row->id;
                description = row->description;
                types[i] = row->type;
            }
            if (FAILED(descriptions.Set(i, description)))
                return Fail(E_OUTOFMEMORY, msg::kOutOfMemory);
        }
        *pdwCount = static_cast<DWORD>(count);
        *ppPropertyIDs = ids.release();
        *ppDescriptions = descriptions.release();
        *ppvtDataTypes = types.release();
        return S_OK;
    });
}

STDMETHODIMP vkObjectParameter::GetItemProperties(DWORD dwCount, DWORD* pdwPropertyIDs,
                                                  VARIANT** ppvData, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!ppvData || !ppErrors) return Fail(E_INVALIDARG, msg::kNullResult);
        *ppvData = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || !pdwPropertyIDs) return Fail(E_INVALIDARG, msg::kNullResult);
        com::CoTaskMem<VARIANT> values;
        com::CoTaskMem<HRESULT> errors;
        if (!values.alloc(dwCount) || !errors.alloc(dwCount))
            return Fail(E_OUTOFMEMORY, msg::kOutOfMemory);
        for (DWORD i = 0; i < dwCount; ++i) {
            VariantInit(&values[i]);
            const DWORD id = pdwPropertyIDs[i];
            if (const ExtraProperty* extra = FindExtraProperty(id))
                errors[i] = ReadExtraProperty(*extra, &values[i]);
            else
                errors[i] = ReadProperty(id, &values[i]);
            if (FAILED(errors[i])) VariantClear(&values[i]);
        }
        *ppvData = values.release();
        *ppErrors = errors.release();
        return S_OK;
    });
}

STDMETHODIMP vkObjectParameter::GetPropertyNames(DWORD dwCount, DWORD* pdwPropertyIDs,
                                                 LPWSTR** ppNames, HRESULT** ppErrors) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!ppNames || !ppErrors) return E_INVALIDARG;
        *ppNames = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || !pdwPropertyIDs) return E_INVALIDARG;
        com::CoTaskMemStrings names;
        com::CoTaskMem<HRESULT> errors;
        if (!names.alloc(dwCount) || !errors.alloc(dwCount)) return E_OUTOFMEMORY;
        for (DWORD i = 0; i < dwCount; ++i) {
            const DWORD id = pdwPropertyIDs[i];
            const wchar_t* name = nullptr;
            if (id >= 1 && id <= kLastServedStandardId)
                name = FindStandardProperty(id)->shortName;
            else if (const ExtraProperty* extra = FindExtraProperty(id))
                name = extra->row->name;
            errors[i] = name ? S_OK : kOpcInvalidPid;
            if (name && FAILED(names.Set(i, name))) return E_OUTOFMEMORY;
        }
        *ppNames = names.release();
        *ppErrors = errors.release();
        return S_OK;
    });
}

STDMETHODIMP vkObjectParameter::GetPropertyByName(LPCWSTR szName, VARIANT* pvValue) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!szName || !pvValue) return E_INVALIDARG;
        VariantInit(pvValue);
        HRESULT hr;
        if (const StandardProperty* standard = FindStandardPropertyByShortName(szName))
            hr = ReadProperty(standard->id, pvValue);
        else if (const ExtraProperty* extra = FindExtraPropertyByName(szName))
            hr = ReadExtraProperty(*extra, pvValue);
        else
            return E_INVALIDARG;
        if (FAILED(hr)) VariantClear(pvValue);
        return hr;
    });
}

// Standard properties written by name: only the type is checked; no Dirty
// flag and no notification.
HRESULT vkObjectParameter::WriteStandardProperty(DWORD id, const VARIANT& value) {
    const VARTYPE vt = V_VT(&value);
    switch (id) {
        case 1:
            // A type no value could be converted to is refused like any wrong type.
            RETURN_HR_IF(E_INVALIDARG,
                         vt != VT_I2 || !IsValidDataType(static_cast<VARTYPE>(V_I2(&value))));
            data_type_ = static_cast<VARTYPE>(V_I2(&value));
            return S_OK;
        case 2: return value_.copy_from(value);
        case 3:
            RETURN_HR_IF(E_INVALIDARG, vt != VT_I2);
            quality_ = static_cast<WORD>(V_I2(&value));
            return S_OK;
        case 4:
            RETURN_HR_IF(E_INVALIDARG, vt != VT_DATE);
            return DateToFileTime(V_DATE(&value), &time_stamp_);
        case 5:
            RETURN_HR_IF(E_INVALIDARG, vt != VT_I4);
            access_rights_ = V_I4(&value);
            return S_OK;
        case 6: RETURN_HR_IF(E_INVALIDARG, vt != VT_R4); return S_OK;
        default: return kOpcInvalidPid;
    }
}

STDMETHODIMP vkObjectParameter::SetPropertyByName(LPCWSTR szName, VARIANT vValue) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!szName) return E_INVALIDARG;
        const StandardProperty* standard = FindStandardPropertyByShortName(szName);
        ExtraProperty* extra = standard ? nullptr : FindExtraPropertyByName(szName);
        if (!standard && !extra) return E_INVALIDARG;
        com::UniqueVariant value;
        RETURN_IF_FAILED(VariantCopyInd(value.get(), &vValue));
        if (standard) return WriteStandardProperty(standard->id, *value.get());
        if (extra->row->access == kReadOnly) return E_ACCESSDENIED;
        if (extra->row->availability == kFromDevice) return kPropertyFromDevice;
        if (value.vt() != extra->row->type) return E_INVALIDARG;
        extra->value = std::move(value);
        return S_OK;
    });
}

// --- IPersistStorage -------------------------------------------------------

STDMETHODIMP vkObjectParameter::GetClassID(CLSID* pClassID) {
    if (!pClassID) return NullResult();
    *pClassID = class_id_;
    return S_OK;
}

STDMETHODIMP vkObjectParameter::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

namespace {

constexpr DWORD kStorageMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

// A failure to open a parameter's sub-storage, as InitNew, Load and SaveCompleted report it.
HRESULT OpenFailure(HRESULT hr) {
    if (hr == STG_E_FILEALREADYEXISTS)
        return Fail(CO_E_ALREADYINITIALIZED, msg::kStorageInitialized);
    if (hr == STG_E_INSUFFICIENTMEMORY) return Fail(E_OUTOFMEMORY, msg::kOutOfMemory);
    return Fail(com::MapFailure(E_FAIL, hr, "opening a parameter's storage"), msg::kStorageOpen);
}

HRESULT OpenByList(IStorage* parent, const std::wstring& name, com::ComPtr<IStorage>* out) {
    std::wstring storage_name;
    RETURN_IF_FAILED(storage::OpeningStorageName(parent, name, false, &storage_name));
    const HRESULT hr = storage::OpenSubStorage(parent, storage_name, out->put());
    return FAILED(hr) ? OpenFailure(hr) : hr;
}

}  // namespace

STDMETHODIMP vkObjectParameter::InitNew(IStorage* pStg) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!pStg) return Fail(E_POINTER, msg::kNullPointer);
        HandsOffStorage();
        std::wstring storage_name;
        RETURN_IF_FAILED(storage::CreatingStorageName(pStg, name_, &storage_name));
        com::ComPtr<IStorage> sub;
        if (FAILED(pStg->OpenStorage(storage_name.c_str(), nullptr, kStorageMode, nullptr, 0,
                                     sub.put()))) {
            const HRESULT hr = pStg->CreateStorage(
                storage_name.c_str(), kStorageMode | STGM_FAILIFTHERE, 0, 0, sub.put());
            if (hr == STG_E_FILEALREADYEXISTS || hr == STG_E_INSUFFICIENTMEMORY)
                return OpenFailure(hr);
            if (FAILED(hr))
                return Fail(com::MapFailure(E_FAIL, hr, "creating a parameter's storage"),
                            msg::kStorageCreate);
        }
        CLSID clsid = GUID_NULL;
        HRESULT hr = GetClassID(&clsid);
        if (FAILED(hr)) return Fail(hr, msg::kNoClassId);
        if (FAILED(hr = sub->SetClass(clsid))) return Fail(hr, msg::kStorageClass);
        storage_ = std::move(sub);
        dirty_ = true;
        return S_OK;
    });
}

STDMETHODIMP vkObjectParameter::Load(IStorage* pStg) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!pStg) return Fail(E_POINTER, msg::kNullPointer);
        HandsOffStorage();
        com::ComPtr<IStorage> sub;
        RETURN_IF_FAILED(OpenByList(pStg, name_, &sub));

        // Every stream is read; a missing or damaged one leaves its field and is
        // reported as the result (the last such failure).
        HRESULT result = S_OK;
        auto read = [&](const wchar_t* stream, auto&& parse) {
            storage::Bytes bytes;
            HRESULT hr = storage::ReadStreamBytes(sub.get(), stream, &bytes);
            if (SUCCEEDED(hr)) {
                storage::ByteReader reader(bytes);
                hr = parse(reader);
            }
            if (FAILED(hr)) result = hr;
        };
        auto text = [&](std::wstring* field) {
            return [field](storage::ByteReader& reader) {
                std::wstring value;
                RETURN_IF_FAILED(storage::ReadString(&reader, &value));
                field->swap(value);
                return S_OK;
            };
        };
        auto number = [](auto* field) {
            return [field](storage::ByteReader& reader) {
                return reader.ReadValue(field) ? S_OK : STG_E_DOCFILECORRUPT;
            };
        };
        auto variant = [](com::UniqueVariant* field) {
            return [field](storage::ByteReader& reader) {
                com::UniqueVariant value;
                RETURN_IF_FAILED(storage::ReadVariant(&reader, value.get()));
                *field = std::move(value);
                return S_OK;
            };
        };
        LONG tag = tag_;
        VARTYPE data_type = data_type_;
        LONG access_rights = access_rights_;
        read(L"__Name", text(&name_));
        read(L"__AccessPath", text(&access_path_));
        read(L"__Tag", number(&tag));
        read(L"__Value", variant(&value_));
        read(L"__Min", variant(&min_));
        read(L"__Max", variant(&max_));
        read(L"__DefaultValue", variant(&default_value_));
        read(L"__Format", text(&format_));
        read(L"__DataType", number(&data_type));
        read(L"__AccessRights", number(&access_rights));
        read(L"__InteractionCLSID", [&](storage::ByteReader& reader) {
            CLSID clsid = GUID_NULL;
            RETURN_IF_FAILED(storage::ReadGuidText(&reader, &clsid));
            interaction_clsid_ = clsid;
            return S_OK;
        });
        tag_ = tag;
        data_type_ = data_type;
        access_rights_ = access_rights;
        storage_ = std::move(sub);
        dirty_ = false;
        return result;
    });
}

STDMETHODIMP vkObjectParameter::Save(IStorage* pStgSave, BOOL fSameAsLoad) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!fSameAsLoad) {
            if (!pStgSave) return Fail(E_POINTER, msg::kNullPointer);
            RETURN_IF_FAILED(InitNew(pStgSave));
        }
        if (!storage_) return Fail(E_POINTER, msg::kNoStorage);
        if (!dirty_) return S_OK;

        // Every stream is written; the result is the last failure. A value the
        // format cannot hold writes no stream.
        HRESULT result = S_OK;
        auto write = [&](const wchar_t* stream, auto&& encode) {
            storage::Bytes bytes;
            HRESULT hr = encode(&bytes);
            if (SUCCEEDED(hr)) hr = storage::WriteStreamBytes(storage_.get(), stream, bytes);
            if (FAILED(hr)) result = hr;
        };
        auto text = [](const std::wstring& field) {
            return [&field](storage::Bytes* out) {
                storage::AppendString(out, field);
                return S_OK;
            };
        };
        auto number = [](auto field) {
            return [field](storage::Bytes* out) {
                storage::AppendValue(out, field);
                return S_OK;
            };
        };
        auto variant = [](const com::UniqueVariant& field) {
            return [&field](storage::Bytes* out) { return storage::AppendVariant(out, *field); };
        };
        write(L"__Name", text(name_));
        write(L"__AccessPath", text(access_path_));
        write(L"__Tag", number(tag_));
        write(L"__Value", variant(value_));
        write(L"__Min", variant(min_));
        write(L"__Max", variant(max_));
        write(L"__DefaultValue", variant(default_value_));
        write(L"__Format", text(format_));
        write(L"__DataType", number(data_type_));
        write(L"__AccessRights", number(access_rights_));
        write(L"__InteractionCLSID", [&](storage::Bytes* out) {
            storage::AppendGuidText(out, interaction_clsid_);
            return S_OK;
        });
        // A failed save leaves the object dirty: what it holds is not stored.
        if (SUCCEEDED(result)) dirty_ = false;
        return result;
    });
}

STDMETHODIMP vkObjectParameter::SaveCompleted(IStorage* pStgNew) {
    return com::ComBoundary([&]() -> HRESULT {
        if (!pStgNew) return S_OK;
        HandsOffStorage();
        return OpenByList(pStgNew, name_, &storage_);
    });
}

STDMETHODIMP vkObjectParameter::HandsOffStorage() {
    storage_.reset();
    return S_OK;
}

bool RegisterObjectParameterClass() {
    return com::AddClassObject<ObjectParameterFactory>(CLSID_vkObjectParameter);
}

}  // namespace vk
