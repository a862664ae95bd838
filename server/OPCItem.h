#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "NameSpaceGate.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Sync.h"
#include "com/Variant.h"
#include "opc.h"
#include "ov_interaction.h"
#include "vkitemprops.h"
#include "vkmodel.h"
#include "vkopc.h"

// One OPC item of a group: a parameter node of the model (or one named property of
// it), bound to the interaction component that reads and writes the device.
class COPCItem : public com::Object<IUnknown> {
public:
    static constexpr IID kImplementationIid = {
        0x5B0E7C1D, 0x3F8A, 0x4C62, {0x9E, 0x41, 0x0B, 0x7D, 0x22, 0xA4, 0x6C, 0x19}};
    static constexpr WORD kQualityLastKnown = 0x0014;
    static constexpr WORD kQualityOutOfService = 0x001C;
    static constexpr WORD kQualityBad = 0x0000;
    static constexpr int kBindingCurrent = 2;
    static constexpr int kBindingLegacy = 1;
    // Cache read with the item's own quality whatever its active state (callbacks).
    static constexpr DWORD kSourceRawCache = 255;

    // The item's cookie towards interaction components: a handle of the process's
    // cookie registry, never a pointer.
    DWORD cookie() const { return cookie_; }

    // Resolves itemId in the model (creating a parameter node for an unknown plain or
    // property ID, after `gate` has let the namespace be built, if given) and binds the
    // item. *createdNode tells whether a node was made here; on failure the node is gone
    // again.
    HRESULT Resolve(VKModelObject* model, const std::wstring& itemId, NameSpaceGate* gate,
                    bool* createdNode);
    HRESULT Bind(VKModelParameter* parameter);
    HRESULT BindProperty(VKModelParameter* parameter, const std::wstring& name);
    // Terminates the binding towards the component; the item keeps its fields.
    void Unbind();

    HRESULT Read(DWORD source, VARIANT* value, WORD* quality, DATE* timeStamp);
    HRESULT Write(const VARIANT& value);
    // The result of a device read of this item, single or bulk.
    HRESULT ProcessDeviceResult(const VARIANT& value, const VARIANT& quality,
                                const VARIANT& timeStamp, HRESULT result, VARIANT* out,
                                WORD* outQuality, DATE* outTime);
    // Converts a read value to the requested type, if any.
    HRESULT ToRequestedType(VARIANT* value) const;
    // The value as it would go to the device: OPC_E_BADRIGHTS without write access,
    // else converted to the canonical type (ConvertValue's results).
    HRESULT ConvertForWrite(const VARIANT& value, VARIANT* out) const;

    HRESULT SetRequestedType(VARTYPE vt);
    void SetDeadband(double percent);

    // Plain accessors.
    std::wstring itemId() const;
    void SetItemId(const std::wstring& id);
    OPCHANDLE clientHandle() const;
    void SetClientHandle(OPCHANDLE handle);
    OPCHANDLE serverHandle() const;
    void SetServerHandle(OPCHANDLE handle);
    BOOL active() const;
    void SetActive(BOOL active);
    DWORD accessRights() const;
    VARTYPE canonicalType() const;
    VARTYPE requestedType() const;
    bool isProperty() const;
    bool isBound() const;  // to a parameter
    void SetChanged();
    bool changed() const;
    // The changed flag, cleared: the item is being reported.
    bool TakeChanged();
    // Parameter's access path and canonical type (GetInit) for enumerators and clones.
    HRESULT ParameterInit(std::wstring* accessPath, DWORD* rights, VARTYPE* vt) const;
    // OPC_ANALOG with [low, high] as VT_ARRAY|VT_R8 when the parameter has limits.
    HRESULT EuInfo(DWORD* type, VARIANT* info) const;

    // The component and how it addresses this item, for the bulk paths.
    com::ComPtr<IUnknown> component() const;
    // The component's bulk access for a readable drive item bound through
    // IvkInteraction; null for any other item (a property, a legacy binding, no read
    // rights), which the device pass reads on its own.
    com::ComPtr<IvkBulkInteraction> bulkInteraction() const;
    com::ComPtr<VKModelParameter> parameter() const;
    HRESULT Address(VARIANT* address) const;
    void SetLastDeviceResult(HRESULT hr);

protected:
    HRESULT FinalConstruct() override;
    void FinalRelease() override;
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override;

private:
    HRESULT BindComponent(const CLSID& clsid, int depth);
    HRESULT ResolvePlain(VKModelObject* model, const std::wstring& itemId, NameSpaceGate* gate,
                         bool* createdNode);
    HRESULT ResolveProperty(VKModelObject* model, const std::wstring& path,
                            const std::wstring& name, NameSpaceGate* gate, bool* createdNode);
    HRESULT AddressLocked(VARIANT* address) const;
    HRESULT CacheReadLocked(bool rawQuality, VARIANT* value, WORD* quality, DATE* timeStamp);
    HRESULT DeviceReadLocked(VARIANT* value, WORD* quality, DATE* timeStamp);
    HRESULT PropertyReadLocked(VARIANT* value, WORD* quality, DATE* timeStamp);
    HRESULT ProcessDeviceResultLocked(const VARIANT& value, const VARIANT& quality,
                                      const VARIANT& timeStamp, HRESULT result, VARIANT* out,
                                      WORD* outQuality, DATE* outTime);
    HRESULT ToRequestedTypeLocked(VARIANT* value) const;
    void ReadEuInfoLocked();
    void StoreQualityInParameterLocked();
    HRESULT PropertyAccessLocked(com::ComPtr<IvkPropertyAccess>* access);

    DWORD cookie_ = 0;
    mutable com::CriticalSection lock_;  // guards every field below
    std::wstring itemId_;
    OPCHANDLE clientHandle_ = 0;
    OPCHANDLE serverHandle_ = 0;
    BOOL active_ = FALSE;
    DWORD accessRights_ = 0;
    VARTYPE canonical_ = VT_EMPTY;
    VARTYPE requested_ = VT_EMPTY;
    com::UniqueVariant value_{std::wstring_view(L"Invalid")};
    WORD quality_ = kQualityOutOfService;
    DATE timeStamp_ = 0;
    bool changed_ = true;
    HRESULT lastDeviceResult_ = S_FALSE;
    com::ComPtr<VKModelParameter> parameter_;
    std::wstring accessPath_;
    std::wstring propertyName_;
    com::ComPtr<VKItemProperties> propertySource_;
    com::ComPtr<COPCItem> carrier_;  // property items: the plain item of their parameter
    com::ComPtr<IUnknown> component_;
    int bindingKind_ = 0;
    bool initialized_ = false;  // the component accepted the item (Init / InitProperty)
    VARTYPE addressType_ = 0;
    WORD euType_ = OPC_NOENUM;
    double low_ = 0, high_ = 0;
    double deadband_ = 0;
};
