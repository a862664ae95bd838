// vkObjectParameter: the generic parameter node of the object model. It holds a
// parameter's attributes, checks and converts its value, serves its item
// properties and explains every failure as German COM error information.
// OV_Parameter builds on it; VkObjectModel.dll serves it as its generic
// parameter class.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <objidl.h>

#include <string>
#include <vector>

#include "com/ClassFactory.h"
#include "com/ComPtr.h"
#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "PropertyTables.h"
#include "vkitemprops.h"
#include "vkmodel.h"

namespace vk {

// VKModelParameter and VKModelParameter2 share one method table; IDispatch
// runs on the object model's type information for VKModelParameter2.
class ModelParameterDispatch : public VKModelParameter2 {
public:
    using ComInterfaces = com::Iids<VKModelParameter2, VKModelParameter, IDispatch>;

    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;
};

// VKModelParameter2's type information from the registered VKOBJECTMODELLib
// 1.0, loaded on first use and kept for the life of the module.
HRESULT GetModelParameterTypeInfo(ITypeInfo** out) noexcept;

// What distinguishes a parameter class built on the generic node.
struct ParameterClass {
    const CLSID* clsid;
    const wchar_t* default_name;
    const ExtraPropertyTable* extra_properties;  // null: none
};

// The flag bit that forbids renaming and re-parenting.
inline constexpr USHORT kInternalFlag = 0x0002;

class vkObjectParameter
    : public com::Object<
          ModelParameterDispatch, VKItemProperties,
          com::SupportErrorInfo<VKModelParameter, VKModelParameter2, IPersistStorage>,
          IPersistStorage, IVkModelParentLink> {
public:
    // The model's generic class: ClassID {AB96C8C1-…}, no extra properties.
    vkObjectParameter();

    // VKModelParameter
    STDMETHODIMP GetName(BSTR* pbsName) override;
    STDMETHODIMP SetName(BSTR bsName) override;
    STDMETHODIMP GetAccessPath(BSTR* pbsAccessPath) override;
    STDMETHODIMP SetAccessPath(BSTR bsAccessPath) override;
    STDMETHODIMP GetParent(IUnknown** ppParent) override;
    STDMETHODIMP SetParent(IUnknown* pParent) override;
    STDMETHODIMP GetPath(BSTR* pbsPath) override;
    STDMETHODIMP GetRelativePath(IUnknown* pAncestor, BSTR* pbsPath) override;
    STDMETHODIMP Init(BSTR bsAccessPath, long lAccessRights, VARTYPE vtDataType,
                      VARIANT vDefault) override;
    STDMETHODIMP GetInit(BSTR* pbsAccessPath, long* plAccessRights, VARTYPE* pvtDataType,
                         VARIANT* pvDefault) override;
    STDMETHODIMP GetTag(long* plTag) override;
    STDMETHODIMP SetTag(long lTag) override;
    STDMETHODIMP GetInteractionCLSID(BSTR* pbsCLSID) override;
    STDMETHODIMP SetInteractionCLSID(BSTR bsCLSID) override;
    STDMETHODIMP GetValue(VARIANT* pvValue) override;
    STDMETHODIMP SetValue(VARIANT vValue) override;
    STDMETHODIMP GetFormat(BSTR* pbsFormat) override;
    STDMETHODIMP SetFormat(BSTR bsFormat) override;
    STDMETHODIMP GetIdentity(IUnknown** ppIdentity) override;
    STDMETHODIMP GetMin(VARIANT* pvMin) override;
    STDMETHODIMP SetMin(VARIANT vMin) override;
    STDMETHODIMP GetMax(VARIANT* pvMax) override;
    STDMETHODIMP SetMax(VARIANT vMax) override;
    STDMETHODIMP GetFlags(unsigned short* pwFlags) override;
    STDMETHODIMP SetFlags(unsigned short wFlags) override;
    STDMETHODIMP GetAccessRights(long* plAccessRights) override;
    STDMETHODIMP SetAccessRights(long lAccessRights) override;
    STDMETHODIMP SetDataType(VARTYPE vtDataType, VARIANT vDefault) override;

    // VKItemProperties
    STDMETHODIMP QueryAvailableProperties(DWORD* pdwCount, DWORD** ppPropertyIDs,
                                          LPWSTR** ppDescriptions,
                                          VARTYPE** ppvtDataTypes) override;
    STDMETHODIMP GetItemProperties(DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                   HRESULT** ppErrors) override;
    STDMETHODIMP GetPropertyNames(DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppNames,
                                  HRESULT** ppErrors) override;
    STDMETHODIMP GetPropertyByName(LPCWSTR szName, VARIANT* pvValue) override;
    STDMETHODIMP SetPropertyByName(LPCWSTR szName, VARIANT vValue) override;

    // IPersistStorage: the parameter's own sub-storage of its parent's storage,
    // one stream per stored attribute.
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP InitNew(IStorage* pStg) override;
    STDMETHODIMP Load(IStorage* pStg) override;
    STDMETHODIMP Save(IStorage* pStgSave, BOOL fSameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage* pStgNew) override;
    STDMETHODIMP HandsOffStorage() override;

    // IVkModelParentLink
    STDMETHODIMP ParentGone(IUnknown* pParent) override;

protected:
    explicit vkObjectParameter(const ParameterClass& parameter_class);
    HRESULT FinalConstruct() override;

private:
    struct ExtraProperty {
        const ExtraPropertyRow* row;
        com::UniqueVariant value;
    };

    // Dirty and the attribute-changed notification, as every setter ends.
    void Changed();
    void NotifyValueChanged();
    HRESULT StoreText(BSTR text, std::wstring* field);
    HRESULT SetBound(const VARIANT& v, bool is_min);
    HRESULT StoreValue(const VARIANT& v);
    HRESULT ReadProperty(DWORD id, VARIANT* value) const;
    HRESULT ReadExtraProperty(const ExtraProperty& property, VARIANT* value) const;
    HRESULT WriteStandardProperty(DWORD id, const VARIANT& value);
    ExtraProperty* FindExtraProperty(DWORD id);
    ExtraProperty* FindExtraPropertyByName(const wchar_t* name);
    HRESULT ParentModelObject(com::ComPtr<VKModelObject>* parent) const;
    bool is_internal() const { return (flags_ & kInternalFlag) != 0; }

    std::wstring name_;
    std::wstring access_path_ = L"intern";
    std::wstring format_ = L"%s";
    LONG tag_ = 0;
    VARTYPE data_type_ = VT_EMPTY;
    com::UniqueVariant value_;
    com::UniqueVariant min_;
    com::UniqueVariant max_;
    com::UniqueVariant default_value_;
    LONG access_rights_ = 3;
    WORD quality_ = 0;
    FILETIME time_stamp_ = {};
    CLSID interaction_clsid_ = GUID_NULL;
    CLSID class_id_;
    USHORT flags_ = 0;
    // Weak: the parent node lives in this apartment and detaches its parameters
    // (ParentGone) before it goes.
    IUnknown* parent_ = nullptr;
    com::ComPtr<IStorage> storage_;
    bool dirty_ = false;
    com::ComPtr<VKChangeNotifier> notifier_;
    std::vector<ExtraProperty> extra_properties_;
};

using ObjectParameterFactory = com::ClassFactory<vkObjectParameter>;

// Adds the generic class {AB96C8C1-…} to the calling module's class table.
bool RegisterObjectParameterClass();

}  // namespace vk
