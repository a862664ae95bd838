#include "OPCItem.h"

#include <utility>

#include "ItemId.h"
#include "ValueRules.h"
#include "com/Bstr.h"
#include "com/HandleRegistry.h"
#include "com/Implementation.h"
#include "com/Result.h"
#include "com/SafeArray.h"
#include "com/Time.h"

namespace {

// Nodes made for unknown item IDs are parameter objects (OV_Parameter), so that a drive
// parameter added by a client has the drive's description properties; the model's
// generic class where that class is not installed.
constexpr const wchar_t* kParameterNodeClass = L"{D13597C6-6931-11D5-A8E6-0060087AB05A}";
constexpr const wchar_t* kGenericParameterClass = L"{AB96C8C1-6780-11D3-BD5F-00105A3185C3}";
// A parameter node's answer for a property that only the drive can supply.
constexpr HRESULT kPropertyFromDevice = static_cast<HRESULT>(0xC0120001);
constexpr long kTagHasLimits = 0x8000;
constexpr DWORD kPropertyQuality = 3;
constexpr DWORD kPropertyTimeStamp = 4;

// Cookies of every item of the process: the key an interaction component knows an
// item by, unique while the item lives.
com::HandleRegistry<bool>& Cookies() {
    static com::HandleRegistry<bool> cookies;
    return cookies;
}

CLSID InteractionClassOf(VKModelParameter* parameter) {
    com::UniqueBstr text;
    CLSID clsid = GUID_NULL;
    if (FAILED(parameter->GetInteractionCLSID(text.put())) || !text.get() ||
        FAILED(CLSIDFromString(text.get(), &clsid)) || clsid == GUID_NULL)
        return CLSID_OrvaneInteraction;
    return clsid;
}

WORD QualityOf(const VARIANT& quality) {
    VARIANT number;
    VariantInit(&number);
    if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(&quality), 0, VT_I2))) return 0;
    return static_cast<WORD>(V_I2(&number));
}

}  // namespace

HRESULT COPCItem::FinalConstruct() {
    cookie_ = Cookies().Add(true);
    timeStamp_ = com::NowUtcDate();
    return cookie_ ? S_OK : E_OUTOFMEMORY;
}

void COPCItem::FinalRelease() {
    // A binding nobody ended (a failed AddItems, a released group) ends here, so the
    // component keeps no record of a gone item.
    Unbind();
    if (cookie_) Cookies().Remove(cookie_);
}

HRESULT COPCItem::QueryInterfaceHook(REFIID riid, void** ppv) {
    if (com::AnswerImplementation(this, riid, ppv)) return S_OK;
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT COPCItem::Resolve(VKModelObject* model, const std::wstring& itemId, NameSpaceGate* gate,
                          bool* createdNode) {
    *createdNode = false;
    if (itemId.empty()) return OPC_E_INVALIDITEMID;
    if (itemId.size() > kMaxItemIdLength) return OPC_E_UNKNOWNITEMID;
    if (!model) return E_FAIL;
    const ItemIdParts parts = SplitItemId(itemId);
    if (parts.isProperty)
        return ResolveProperty(model, std::wstring(parts.path), std::wstring(parts.property), gate,
                               createdNode);
    return ResolvePlain(model, itemId, gate, createdNode);
}

HRESULT COPCItem::ResolvePlain(VKModelObject* model, const std::wstring& itemId,
                               NameSpaceGate* gate, bool* createdNode) {
    *createdNode = false;
    com::UniqueBstr path(itemId);
    com::ComPtr<IUnknown> found;
    com::ComPtr<VKModelParameter> parameter;
    const auto find = [&] {
        return model->FindParameter(path.get(), found.put()) == S_OK && found &&
               SUCCEEDED(found.query(&parameter));
    };
    if (find()) return Bind(parameter.get());
    // The check may have made the node itself (an identification item of an axis).
    if (gate) {
        gate->Pass();
        if (find()) return Bind(parameter.get());
    }

    com::ComPtr<IUnknown> made;
    com::UniqueBstr parameterClass(kParameterNodeClass);
    if (FAILED(model->CreateParameter(path.get(), parameterClass.get(), made.put())) || !made) {
        com::UniqueBstr generic(kGenericParameterClass);
        if (FAILED(model->CreateParameter(path.get(), generic.get(), made.put())) || !made)
            return OPC_E_INVALIDITEMID;
    }
    HRESULT hr = made.query(&parameter);
    if (SUCCEEDED(hr)) {
        com::UniqueVariant zero(std::wstring_view(L"0"));
        hr = parameter->Init(path.get(), OPC_READABLE | OPC_WRITEABLE, VT_BSTR, *zero.get());
        if (SUCCEEDED(hr)) hr = Bind(parameter.get());
    }
    if (FAILED(hr)) {
        Unbind();
        model->DeleteParameter(path.get());
        return OPC_E_UNKNOWNITEMID;
    }
    *createdNode = true;
    return S_OK;
}

// A property item keeps a plain item of its parameter (the carrier), so that the
// interaction component holds what stands behind the parameter for as long as the
// property item lives, also when nobody added the parameter itself.
HRESULT COPCItem::ResolveProperty(VKModelObject* model, const std::wstring& path,
                                  const std::wstring& name, NameSpaceGate* gate,
                                  bool* createdNode) {
    com::ComPtr<COPCItem> carrier;
    RETURN_IF_FAILED(com::MakeObject(&carrier));
    bool created = false;
    if (FAILED(carrier->ResolvePlain(model, path, gate, &created))) {
        // A node that no component serves as an item may still answer the property.
        com::ComPtr<IUnknown> found;
        com::ComPtr<VKModelParameter> parameter;
        if (model->FindParameter(com::UniqueBstr(path).get(), found.put()) != S_OK || !found ||
            FAILED(found.query(&parameter)))
            return OPC_E_UNKNOWNITEMID;
        return BindProperty(parameter.get(), name);
    }
    const com::ComPtr<VKModelParameter> parameter = carrier->parameter();
    const HRESULT hr = parameter ? BindProperty(parameter.get(), name) : E_FAIL;
    if (FAILED(hr)) {
        carrier->Unbind();
        if (created) model->DeleteParameter(com::UniqueBstr(path).get());
        return created ? OPC_E_UNKNOWNITEMID : hr;
    }
    com::CsLock guard(lock_);
    carrier_ = std::move(carrier);
    *createdNode = created;
    return S_OK;
}

HRESULT COPCItem::Bind(VKModelParameter* parameter) {
    if (!parameter) return E_POINTER;
    com::CsLock guard(lock_);
    RETURN_IF_FAILED(parameter->QueryInterface(IID_VKModelParameter, parameter_.put_void()));
    const HRESULT bound = BindComponent(InteractionClassOf(parameter_.get()), 3);
    RETURN_IF_FAILED(bound);

    value_.reset();
    com::UniqueBstr path;
    long rights = 0;
    VARTYPE vt = VT_EMPTY;
    RETURN_IF_FAILED(parameter_->GetInit(path.put(), &rights, &vt, value_.put()));
    accessPath_ = path.str();
    accessRights_ = static_cast<DWORD>(rights);
    canonical_ = vt;
    ReadEuInfoLocked();
    return bound;
}

// Follows replacement nodes through at most `depth` components.
HRESULT COPCItem::BindComponent(const CLSID& first, int depth) {
    CLSID clsid = first;
    for (;; --depth) {
        if (depth < 1) return E_FAIL;
        component_.reset();
        initialized_ = false;
        bindingKind_ = 0;
        com::ComPtr<IUnknown> unknown;
        RETURN_IF_FAILED(
            CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.put_void()));
        component_ = unknown;
        com::ComPtr<IvkInteraction> current;
        if (SUCCEEDED(unknown.query(&current))) {
            bindingKind_ = kBindingCurrent;
            com::ComPtr<IUnknown> replacement;
            VARTYPE addressType = 0;
            RETURN_IF_FAILED(current->Init(static_cast<long>(cookie_), parameter_.get(),
                                           replacement.put(), &addressType));
            addressType_ = addressType;
            initialized_ = true;
            if (!replacement) return S_OK;
            com::ComPtr<VKModelParameter> next;
            RETURN_IF_FAILED(replacement.query(&next));
            parameter_ = next;
            clsid = InteractionClassOf(parameter_.get());
            continue;
        }
        com::ComPtr<IvkLegacyInteraction> legacy;
        if (SUCCEEDED(unknown.query(&legacy))) {
            addressType_ = VT_BSTR;
            bindingKind_ = kBindingLegacy;
            return legacy->Init(parameter_.get());
        }
        component_.reset();
        return E_NOINTERFACE;
    }
}

HRESULT COPCItem::BindProperty(VKModelParameter* parameter, const std::wstring& name) {
    if (!parameter) return E_POINTER;
    com::CsLock guard(lock_);
    RETURN_IF_FAILED(parameter->QueryInterface(IID_VKModelParameter, parameter_.put_void()));
    if (FAILED(parameter_.query(&propertySource_))) return E_FAIL;
    propertyName_ = name;
    com::UniqueBstr text(name);
    com::UniqueVariant value;
    HRESULT hr = propertySource_->GetPropertyByName(text.get(), value.put());
    VARTYPE vt = value.vt();
    if (hr == kPropertyFromDevice) {
        com::ComPtr<IUnknown> unknown;
        RETURN_IF_FAILED(CoCreateInstance(InteractionClassOf(parameter_.get()), nullptr, CLSCTX_ALL,
                                          IID_IUnknown, unknown.put_void()));
        com::ComPtr<IvkInteraction> current;
        RETURN_IF_FAILED(unknown.query(&current));
        com::ComPtr<IvkPropertyAccess> access;
        RETURN_IF_FAILED(unknown.query(&access));
        component_ = unknown;
        bindingKind_ = kBindingCurrent;
        if (auto access2 = unknown.try_query<IvkPropertyAccess2>()) {
            hr = access2->InitProperty(parameter_.get(), text.get(), &vt);
            if (SUCCEEDED(hr)) {
                initialized_ = true;
                value.reset();
                if (FAILED(VariantChangeType(value.get(), value.get(), 0, vt))) value.reset();
            }
        } else {
            hr = access->ReadProperty(parameter_.get(), text.get(), value.put());
            vt = value.vt();
        }
    }
    RETURN_IF_FAILED(hr);

    com::UniqueBstr path;
    long rights = 0;
    VARTYPE parameterType = VT_EMPTY;
    com::UniqueVariant initial;
    RETURN_IF_FAILED(parameter_->GetInit(path.put(), &rights, &parameterType, initial.put()));
    accessRights_ = static_cast<DWORD>(rights);
    accessPath_ = name;
    value_ = std::move(value);
    canonical_ = vt;
    return S_OK;
}

void COPCItem::Unbind() {
    com::CsLock guard(lock_);
    if (initialized_ && component_) {
        if (propertySource_) {
            if (auto access2 = component_.try_query<IvkPropertyAccess2>()) {
                com::UniqueBstr name(propertyName_);
                access2->TerminateProperty(parameter_.get(), name.get());
            }
        } else if (auto current = component_.try_query<IvkInteraction2>()) {
            com::UniqueVariant address;
            if (SUCCEEDED(AddressLocked(address.put()))) current->Terminate(*address.get());
        }
    }
    initialized_ = false;
    // The parameter's own item goes after its property.
    if (carrier_) carrier_->Unbind();
}

void COPCItem::ReadEuInfoLocked() {
    euType_ = OPC_NOENUM;
    long tag = 0;
    if (FAILED(parameter_->GetTag(&tag)) || !(tag & kTagHasLimits)) return;
    com::UniqueVariant max, min, number;
    if (FAILED(parameter_->GetMax(max.put())) || FAILED(parameter_->GetMin(min.put()))) return;
    if (FAILED(VariantChangeType(number.get(), max.get(), 0, VT_R8))) return;
    double high = V_R8(number.get());
    if (FAILED(VariantChangeType(number.get(), min.get(), 0, VT_R8))) return;
    double low = V_R8(number.get());
    if (high < low) std::swap(high, low);
    low_ = low;
    high_ = high;
    euType_ = OPC_ANALOG;
}

HRESULT COPCItem::EuInfo(DWORD* type, VARIANT* info) const {
    com::CsLock guard(lock_);
    VariantInit(info);
    *type = euType_;
    if (euType_ != OPC_ANALOG) return S_OK;
    SAFEARRAY* limits = SafeArrayCreateVector(VT_R8, 0, 2);
    RETURN_IF_NULL_ALLOC(limits);
    static_cast<double*>(limits->pvData)[0] = low_;
    static_cast<double*>(limits->pvData)[1] = high_;
    V_VT(info) = VT_ARRAY | VT_R8;
    V_ARRAY(info) = limits;
    return S_OK;
}

HRESULT COPCItem::AddressLocked(VARIANT* address) const {
    VariantInit(address);
    if (addressType_ == VT_BSTR) {
        V_VT(address) = VT_BSTR;
        V_BSTR(address) =
            SysAllocStringLen(accessPath_.data(), static_cast<UINT>(accessPath_.size()));
        if (!V_BSTR(address)) {
            V_VT(address) = VT_EMPTY;
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    if (addressType_ == VT_I4) {
        V_VT(address) = VT_I4;
        V_I4(address) = static_cast<LONG>(cookie_);
        return S_OK;
    }
    return E_UNEXPECTED;
}

HRESULT COPCItem::Address(VARIANT* address) const {
    com::CsLock guard(lock_);
    return AddressLocked(address);
}

HRESULT COPCItem::Read(DWORD source, VARIANT* value, WORD* quality, DATE* timeStamp) {
    VariantInit(value);
    *quality = kQualityBad;
    *timeStamp = 0;
    if (source != OPC_DS_CACHE && source != OPC_DS_DEVICE && source != kSourceRawCache)
        return E_INVALIDARG;
    com::CsLock guard(lock_);
    if (!propertySource_ && !(accessRights_ & OPC_READABLE)) return OPC_E_BADRIGHTS;
    HRESULT hr;
    if (propertySource_)
        hr = PropertyReadLocked(value, quality, timeStamp);
    else if (source == OPC_DS_DEVICE && component_)
        hr = DeviceReadLocked(value, quality, timeStamp);
    else
        hr = CacheReadLocked(source == kSourceRawCache, value, quality, timeStamp);
    if (SUCCEEDED(hr)) {
        const HRESULT converted = ToRequestedTypeLocked(value);
        if (FAILED(converted)) return converted;
    }
    return hr;
}

HRESULT COPCItem::CacheReadLocked(bool rawQuality, VARIANT* value, WORD* quality, DATE* timeStamp) {
    if (FAILED(lastDeviceResult_)) {
        *quality = kQualityBad;
        return lastDeviceResult_;
    }
    if (parameter_) {
        com::UniqueVariant current;
        if (SUCCEEDED(parameter_->GetValue(current.put()))) {
            value_ = std::move(current);
            RETURN_IF_FAILED(value_.copy_to(value));
        }
    } else {
        RETURN_IF_FAILED(value_.copy_to(value));
    }
    *quality = rawQuality || active_ ? quality_ : kQualityOutOfService;
    *timeStamp = timeStamp_;
    return S_OK;
}

HRESULT COPCItem::DeviceReadLocked(VARIANT* value, WORD* quality, DATE* timeStamp) {
    com::UniqueVariant address, fresh, freshQuality, freshTime;
    HRESULT result;
    if (bindingKind_ == kBindingCurrent) {
        com::ComPtr<IvkInteraction> current;
        RETURN_IF_FAILED(component_.query(&current));
        RETURN_IF_FAILED(AddressLocked(address.put()));
        result = com::ComBoundary([&] {
            return current->Read(*address.get(), fresh.put(), freshQuality.put(), freshTime.put());
        });
    } else if (bindingKind_ == kBindingLegacy) {
        com::ComPtr<IvkLegacyInteraction> legacy;
        RETURN_IF_FAILED(component_.query(&legacy));
        address = com::UniqueVariant(std::wstring_view(accessPath_));
        result = legacy->Read(*address.get(), fresh.put(), freshQuality.put(), freshTime.put());
    } else {
        return E_NOINTERFACE;
    }
    if (result != lastDeviceResult_) changed_ = true;
    lastDeviceResult_ = result;
    return ProcessDeviceResultLocked(*fresh.get(), *freshQuality.get(), *freshTime.get(), result,
                                     value, quality, timeStamp);
}

HRESULT COPCItem::ProcessDeviceResult(const VARIANT& value, const VARIANT& quality,
                                      const VARIANT& timeStamp, HRESULT result, VARIANT* out,
                                      WORD* outQuality, DATE* outTime) {
    com::CsLock guard(lock_);
    if (result != lastDeviceResult_) changed_ = true;
    lastDeviceResult_ = result;
    return ProcessDeviceResultLocked(value, quality, timeStamp, result, out, outQuality, outTime);
}

HRESULT COPCItem::ProcessDeviceResultLocked(const VARIANT& value, const VARIANT& quality,
                                            const VARIANT& timeStamp, HRESULT result, VARIANT* out,
                                            WORD* outQuality, DATE* outTime) {
    VariantInit(out);
    if (FAILED(result)) {
        *outQuality = kQualityBad;
        return result;
    }
    if (result == S_FALSE) {
        com::UniqueVariant current;
        if (parameter_ && SUCCEEDED(parameter_->GetValue(current.put())))
            value_ = std::move(current);
        if (quality_ != kQualityLastKnown) {
            quality_ = kQualityLastKnown;
            changed_ = true;
            StoreQualityInParameterLocked();
        }
        *outQuality = quality_;
        *outTime = timeStamp_;
        RETURN_IF_FAILED(value_.copy_to(out));
        return result;
    }
    bool stored = false;
    const WORD fresh = QualityOf(quality);
    if (fresh != quality_) {
        quality_ = fresh;
        changed_ = stored = true;
    }
    const double band = euType_ == OPC_ANALOG ? (high_ - low_) * deadband_ * 0.01 : -1.0;
    if (ValuesDiffer(*value_.get(), value, band)) {
        if (parameter_) parameter_->SetValue(value);
        RETURN_IF_FAILED(value_.copy_from(value));
        changed_ = stored = true;
    }
    if (V_VT(&timeStamp) == VT_DATE) timeStamp_ = V_DATE(&timeStamp);
    if (stored) StoreQualityInParameterLocked();
    *outQuality = quality_;
    *outTime = timeStamp_;
    RETURN_IF_FAILED(VariantCopy(out, const_cast<VARIANT*>(&value)));
    return result;
}

// Properties 3 and 4 of the parameter follow the item, so that item-property reads
// see the quality and time of the last device value.
void COPCItem::StoreQualityInParameterLocked() {
    auto properties = parameter_ ? parameter_.try_query<VKItemProperties>() : nullptr;
    if (!properties) return;
    DWORD ids[] = {kPropertyQuality, kPropertyTimeStamp};
    LPWSTR* names = nullptr;
    HRESULT* errors = nullptr;
    if (FAILED(properties->GetPropertyNames(2, ids, &names, &errors)) || !names || !errors) return;
    VARIANT values[2];
    VariantInit(&values[0]);
    VariantInit(&values[1]);
    V_VT(&values[0]) = VT_I2;
    V_I2(&values[0]) = static_cast<SHORT>(quality_);
    V_VT(&values[1]) = VT_DATE;
    V_DATE(&values[1]) = timeStamp_;
    for (int i = 0; i < 2; ++i) {
        if (SUCCEEDED(errors[i]) && names[i]) properties->SetPropertyByName(names[i], values[i]);
        CoTaskMemFree(names[i]);
    }
    CoTaskMemFree(names);
    CoTaskMemFree(errors);
}

HRESULT COPCItem::PropertyAccessLocked(com::ComPtr<IvkPropertyAccess>* access) {
    if (!component_) return E_POINTER;
    return component_.query(access);
}

HRESULT COPCItem::PropertyReadLocked(VARIANT* value, WORD* quality, DATE* timeStamp) {
    com::UniqueBstr name(propertyName_);
    com::UniqueVariant fresh;
    HRESULT hr = propertySource_->GetPropertyByName(name.get(), fresh.put());
    if (hr == kPropertyFromDevice) {
        com::ComPtr<IvkPropertyAccess> access;
        RETURN_IF_FAILED(PropertyAccessLocked(&access));
        hr = access->ReadProperty(parameter_.get(), name.get(), fresh.put());
    }
    RETURN_IF_FAILED(hr);
    quality_ = OPC_QUALITY_GOOD;
    timeStamp_ = com::NowUtcDate();
    if (ValuesDiffer(*value_.get(), *fresh.get(), -1.0)) changed_ = true;
    value_ = std::move(fresh);
    *quality = quality_;
    *timeStamp = timeStamp_;
    return value_.copy_to(value);
}

HRESULT COPCItem::ToRequestedTypeLocked(VARIANT* value) const {
    if (requested_ == VT_EMPTY || V_VT(value) == requested_) return S_OK;
    VARIANT converted;
    const HRESULT hr = ConvertValue(*value, requested_, &converted);
    if (FAILED(hr)) return hr;  // the caller keeps the unconverted value
    VariantClear(value);
    *value = converted;
    return S_OK;
}

HRESULT COPCItem::ToRequestedType(VARIANT* value) const {
    com::CsLock guard(lock_);
    return ToRequestedTypeLocked(value);
}

HRESULT COPCItem::ConvertForWrite(const VARIANT& value, VARIANT* out) const {
    VariantInit(out);
    VARTYPE canonical;
    {
        com::CsLock guard(lock_);
        if (!propertySource_ && !(accessRights_ & OPC_WRITEABLE)) return OPC_E_BADRIGHTS;
        canonical = canonical_;
    }
    if (canonical == VT_EMPTY) return VariantCopy(out, const_cast<VARIANT*>(&value));
    return ConvertValue(value, canonical, out);
}

HRESULT COPCItem::Write(const VARIANT& value) {
    com::UniqueVariant converted;
    RETURN_IF_FAILED(ConvertForWrite(value, converted.put()));
    com::CsLock guard(lock_);
    if (propertySource_) {
        com::UniqueBstr name(propertyName_);
        HRESULT hr = propertySource_->SetPropertyByName(name.get(), *converted.get());
        if (hr == kPropertyFromDevice) {
            com::ComPtr<IvkPropertyAccess> access;
            RETURN_IF_FAILED(PropertyAccessLocked(&access));
            hr = access->WriteProperty(parameter_.get(), name.get(), *converted.get());
        }
        if (SUCCEEDED(hr)) changed_ = true;
        return hr;
    }
    if (!component_) {
        if (parameter_) RETURN_IF_FAILED(parameter_->SetValue(*converted.get()));
        value_ = std::move(converted);
        return S_OK;
    }
    HRESULT hr;
    if (bindingKind_ == kBindingCurrent) {
        com::ComPtr<IvkInteraction> current;
        RETURN_IF_FAILED(component_.query(&current));
        com::UniqueVariant address;
        RETURN_IF_FAILED(AddressLocked(address.put()));
        hr = current->Write(*address.get(), *converted.get());
    } else if (bindingKind_ == kBindingLegacy) {
        com::ComPtr<IvkLegacyInteraction> legacy;
        RETURN_IF_FAILED(component_.query(&legacy));
        com::UniqueVariant address{std::wstring_view(accessPath_)};
        hr = legacy->Write(*address.get(), *converted.get());
    } else {
        return E_NOINTERFACE;
    }
    if (SUCCEEDED(hr)) changed_ = true;
    return hr;
}

HRESULT COPCItem::SetRequestedType(VARTYPE vt) {
    com::CsLock guard(lock_);
    if (vt == VT_EMPTY) {
        requested_ = VT_EMPTY;
        return S_OK;
    }
    com::UniqueVariant probe;
    const HRESULT hr = VariantChangeType(probe.get(), value_.get(), 0, vt);
    if (FAILED(hr) || probe.vt() != vt) {
        requested_ = canonical_;
        return OPC_E_BADTYPE;
    }
    requested_ = vt;
    return S_OK;
}

void COPCItem::SetDeadband(double percent) {
    com::CsLock guard(lock_);
    deadband_ = percent;
}

std::wstring COPCItem::itemId() const {
    com::CsLock guard(lock_);
    return itemId_;
}
void COPCItem::SetItemId(const std::wstring& id) {
    com::CsLock guard(lock_);
    itemId_ = id;
}
OPCHANDLE COPCItem::clientHandle() const {
    com::CsLock guard(lock_);
    return clientHandle_;
}
void COPCItem::SetClientHandle(OPCHANDLE handle) {
    com::CsLock guard(lock_);
    clientHandle_ = handle;
}
OPCHANDLE COPCItem::serverHandle() const {
    com::CsLock guard(lock_);
    return serverHandle_;
}
void COPCItem::SetServerHandle(OPCHANDLE handle) {
    com::CsLock guard(lock_);
    serverHandle_ = handle;
}
BOOL COPCItem::active() const {
    com::CsLock guard(lock_);
    return active_;
}
void COPCItem::SetActive(BOOL active) {
    com::CsLock guard(lock_);
    active_ = active ? TRUE : FALSE;
}
DWORD COPCItem::accessRights() const {
    com::CsLock guard(lock_);
    return accessRights_;
}
VARTYPE COPCItem::canonicalType() const {
    com::CsLock guard(lock_);
    return canonical_;
}
VARTYPE COPCItem::requestedType() const {
    com::CsLock guard(lock_);
    return requested_;
}
bool COPCItem::isProperty() const {
    com::CsLock guard(lock_);
    return propertySource_ != nullptr;
}
bool COPCItem::isBound() const {
    com::CsLock guard(lock_);
    return parameter_ != nullptr;
}
void COPCItem::SetChanged() {
    com::CsLock guard(lock_);
    changed_ = true;
}
bool COPCItem::changed() const {
    com::CsLock guard(lock_);
    return changed_;
}
bool COPCItem::TakeChanged() {
    com::CsLock guard(lock_);
    return std::exchange(changed_, false);
}
com::ComPtr<IUnknown> COPCItem::component() const {
    com::CsLock guard(lock_);
    return component_;
}
com::ComPtr<IvkBulkInteraction> COPCItem::bulkInteraction() const {
    com::ComPtr<IUnknown> component;
    {
        com::CsLock guard(lock_);
        if (propertySource_ || bindingKind_ != kBindingCurrent || !(accessRights_ & OPC_READABLE))
            return nullptr;
        component = component_;
    }
    // Asked outside the item lock: the component is another module.
    return component ? component.try_query<IvkBulkInteraction>() : nullptr;
}
com::ComPtr<VKModelParameter> COPCItem::parameter() const {
    com::CsLock guard(lock_);
    return parameter_;
}
void COPCItem::SetLastDeviceResult(HRESULT hr) {
    com::CsLock guard(lock_);
    if (hr != lastDeviceResult_) changed_ = true;
    lastDeviceResult_ = hr;
}

HRESULT COPCItem::ParameterInit(std::wstring* accessPath, DWORD* rights, VARTYPE* vt) const {
    com::CsLock guard(lock_);
    if (!parameter_) return E_FAIL;
    com::UniqueBstr path;
    long access = 0;
    VARTYPE type = VT_EMPTY;
    com::UniqueVariant initial;
    RETURN_IF_FAILED(parameter_->GetInit(path.put(), &access, &type, initial.put()));
    *accessPath = path.str();
    *rights = static_cast<DWORD>(access);
    // A property item's type is its property's, not the parameter's.
    *vt = propertySource_ ? canonical_ : type;
    return S_OK;
}
