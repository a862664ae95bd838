// CModelNode: a node of the object model (VkObjectModel.ModelObject). The root and
// every child object are nodes; parameters are leaves of other classes
// (VKModelParameter) that the node creates through COM and keeps in its list.
//
// Apartment-threaded: every call arrives on the apartment's thread, so nothing
// here is locked. A parameter keeps its parent node as a weak pointer: the node
// detaches its parameters (IVkModelParentLink) when it lets go of them or dies.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>
#include <vector>

#include "NamedItems.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Implementation.h"
#include "com/Object.h"
#include "vkitemprops.h"
#include "vkmodel.h"

namespace model {

enum class ListKind { kParameters, kObjects };

// Name already used by a parameter or child object of the same node.
inline constexpr HRESULT kNameExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

class CModelNode : public com::Object<com::Dual<VKModelObject>, VKItemProperties,
                                      com::Chain<IPersistStorage, IPersist>> {
public:
    CModelNode() = default;

    // Private: answered only by nodes of this module in the caller's apartment.
    static constexpr IID kImplementationIid = {
        0xF6CE2030, 0x89D5, 0x4197, {0x91, 0x53, 0xFE, 0xB1, 0xF7, 0xDA, 0x62, 0x4D}};

    static HRESULT Create(std::wstring_view name, com::ComPtr<CModelNode>* out);
    // The node of this module behind an interface of this apartment, or null.
    // Borrowed: valid while the caller holds `unknown`.
    static CModelNode* FromUnknown(IUnknown* unknown) noexcept;

    IUnknown* identity() noexcept { return GetControllingUnknown(); }
    NamedItems& items(ListKind kind) noexcept {
        return kind == ListKind::kParameters ? parameters_ : objects_;
    }
    bool NameTaken(std::wstring_view name) const noexcept;
    // Full path of this node ("" at a root).
    HRESULT PathOf(std::wstring* out);
    // The re-keying interface of the parameter collection.
    HRESULT ReKeyParameter(std::wstring_view old_name, std::wstring_view new_name);

    // VKModelObject
    STDMETHODIMP GetName(BSTR* pbsName) override;
    STDMETHODIMP SetName(BSTR bsName) override;
    STDMETHODIMP GetAccessPath(BSTR* pbsAccessPath) override;
    STDMETHODIMP SetAccessPath(BSTR bsAccessPath) override;
    STDMETHODIMP GetParent(IUnknown** ppParent) override;
    STDMETHODIMP SetParent(IUnknown* pParent) override;
    STDMETHODIMP GetIdentity(IUnknown** ppIdentity) override;
    STDMETHODIMP GetClassID(BSTR* pbsClassID) override;
    STDMETHODIMP GetSeparators(BSTR* pbsSeparators) override;
    STDMETHODIMP FindChild(BSTR bsName, IUnknown** ppChild) override;
    STDMETHODIMP GetParameters(VKModelCollection** ppParameters) override;
    STDMETHODIMP GetObjects(VKModelCollection** ppObjects) override;
    STDMETHODIMP CreateParameter(BSTR bsName, BSTR bsClassID, IUnknown** ppParameter) override;
    STDMETHODIMP DeleteParameter(BSTR bsName) override;
    STDMETHODIMP FindParameter(BSTR bsPath, IUnknown** ppParameter) override;
    STDMETHODIMP CreateObject(BSTR bsName, BSTR bsClassID, IUnknown** ppObject) override;
    STDMETHODIMP FindObject(BSTR bsPath, IUnknown** ppObject) override;
    STDMETHODIMP GetPath(BSTR* pbsPath) override;
    STDMETHODIMP GetRelativePath(IUnknown* pAncestor, BSTR* pbsPath) override;
    STDMETHODIMP Clear() override;

    // VKItemProperties: a node holds no values, so it lists no properties.
    STDMETHODIMP QueryAvailableProperties(DWORD* pdwCount, DWORD** ppPropertyIDs,
                                          LPWSTR** ppDescriptions,
                                          VARTYPE** ppvtDataTypes) override;
    STDMETHODIMP GetItemProperties(DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                   HRESULT** ppErrors) override;
    STDMETHODIMP GetPropertyNames(DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppNames,
                                  HRESULT** ppErrors) override;
    STDMETHODIMP GetPropertyByName(LPCWSTR szName, VARIANT* pvValue) override;
    STDMETHODIMP SetPropertyByName(LPCWSTR szName, VARIANT vValue) override;

    // IPersistStorage on the node's own storage (the file's root storage at the
    // root): its lists, access path and hidden parameters, then a sub-storage per
    // child node and per parameter. Load is all or nothing: the whole storage is
    // read into new nodes and parameters, which replace the node's content only
    // when everything was read.
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP InitNew(IStorage* pStg) override;
    STDMETHODIMP Load(IStorage* pStg) override;
    STDMETHODIMP Save(IStorage* pStgSave, BOOL fSameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage* pStgNew) override;
    STDMETHODIMP HandsOffStorage() override;

protected:
    HRESULT QueryInterfaceHook(REFIID riid, void** ppv) override;
    void FinalRelease() override;

private:
    // The child object that the first element of path names, and the rest of the path;
    // no child (S_OK, child empty) when path has no separator or no such child exists.
    HRESULT ChildForPath(std::wstring_view path, com::ComPtr<VKModelObject>* child,
                         std::wstring_view* rest);
    HRESULT FindParameterPath(std::wstring_view path, com::ComPtr<IUnknown>* out);
    HRESULT FindObjectPath(std::wstring_view path, com::ComPtr<IUnknown>* out);
    HRESULT RelativePathOf(IUnknown* ancestor, std::wstring* out);
    HRESULT AddChildNode(std::wstring_view name, com::ComPtr<IUnknown>* out);
    HRESULT AddForeignChild(std::wstring_view name, REFCLSID clsid, com::ComPtr<IUnknown>* out);
    // Takes a removed child out of the tree. It is kept alive at the top node only
    // if parts of other classes below it point at it without a reference.
    void Retire(NamedItems::Entry entry);
    // True when every parameter below this node can be detached and every child
    // node is of this class.
    bool OnlyKnownParts() noexcept;
    CModelNode* TopNode() noexcept;

    // What a node holds, read from a storage before it replaces the node's own.
    struct Content {
        std::wstring access_path;
        NamedItems parameters;
        NamedItems objects;
    };
    HRESULT SaveInto(IStorage* storage);
    // Reads a node's storage into content whose parts name `owner` as their parent.
    static HRESULT LoadContent(IStorage* storage, IUnknown* owner, Content* content);
    static HRESULT LoadParameters(IStorage* storage, IUnknown* owner,
                                  const std::vector<std::wstring>& names,
                                  const std::vector<std::wstring>& hidden, NamedItems* out);
    void TakeContent(Content content);
    bool AnyDirty() noexcept;
    void MarkClean() noexcept;

    std::wstring name_;
    std::wstring access_path_;
    IUnknown* parent_ = nullptr;  // weak: the parent outlives its children or detaches them
    NamedItems parameters_;
    NamedItems objects_;
    std::vector<com::ComPtr<IUnknown>> retired_;  // removed children that cannot be detached
    com::ComPtr<IStorage> storage_;               // from InitNew, Load or SaveCompleted
    bool dirty_ = false;                          // the node's own lists or fields changed
};

}  // namespace model
