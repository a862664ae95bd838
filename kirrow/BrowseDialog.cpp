#include "BrowseDialog.h"

#include <iterator>

#include "com/ComPtr.h"
#include "com/Memory.h"
#include "core/Texts.h"
#include "resource.h"

namespace kirrow {
namespace {

struct TypeChoice {
    const wchar_t* name;
    VARTYPE type;
};
const TypeChoice kTypes[] = {
    {L"VT_EMPTY", VT_EMPTY}, {L"VT_I2", VT_I2}, {L"VT_I4", VT_I4},     {L"VT_R4", VT_R4},
    {L"VT_R8", VT_R8},       {L"VT_CY", VT_CY}, {L"VT_DATE", VT_DATE}, {L"VT_BSTR", VT_BSTR},
    {L"VT_BOOL", VT_BOOL},   {L"VT_I1", VT_I1}, {L"VT_UI1", VT_UI1},
};
const wchar_t* const kAccess[] = {L"All", L"Readable", L"Writeable"};
constexpr wchar_t kMarker[] = L"+ ";

}  // namespace

BrowseDialog::BrowseDialog(Session* session, OPCHANDLE group)
    : Dialog(IDD_BROWSE), session_(session), group_(group) {}

INT_PTR BrowseDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: Init(); return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_BROWSE_TREE && header->code == TVN_ITEMEXPANDINGW) {
                const auto* view = reinterpret_cast<const NMTREEVIEWW*>(lParam);
                const size_t index = static_cast<size_t>(view->itemNew.lParam);
                if (view->action == TVE_EXPAND && index < nodes_.size() && !nodes_[index].leaf &&
                    !nodes_[index].filled)
                    AddChildren(view->itemNew.hItem, index);
            }
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_REFRESH:
                case IDC_BROWSE_FLAT:
                case IDC_BROWSE_HIERARCHICAL: Fill(); return TRUE;
                case IDC_MARK: ToggleMark(); return TRUE;
                case IDC_VALIDATE: Validate(); return TRUE;
                case IDOK:
                    AddMarked();
                    EndDialog(hwnd(), IDOK);
                    return TRUE;
                case IDCANCEL: EndDialog(hwnd(), IDCANCEL); return TRUE;
            }
            break;
    }
    return FALSE;
}

void BrowseDialog::Init() {
    tree_ = Item(IDC_BROWSE_TREE);
    for (const wchar_t* name : kAccess)
        SendDlgItemMessageW(hwnd(), IDC_ACCESS_FILTER, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(name));
    SendDlgItemMessageW(hwnd(), IDC_ACCESS_FILTER, CB_SETCURSEL, 0, 0);
    for (const TypeChoice& choice : kTypes)
        SendDlgItemMessageW(hwnd(), IDC_TYPE_FILTER, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(choice.name));
    SendDlgItemMessageW(hwnd(), IDC_TYPE_FILTER, CB_SETCURSEL, 0, 0);
    OPCNAMESPACETYPE organization = OPC_NS_FLAT;
    const HRESULT hr = session_->browse()->QueryOrganization(&organization);
    SetDlgItemTextW(hwnd(), IDC_ORGANIZATION,
                    FAILED(hr) ? (L"QueryOrganization failed : " + HexText(hr)).c_str()
                    : organization == OPC_NS_HIERARCHIAL ? L"OPC_NS_HIERARCHICAL"
                                                         : L"OPC_NS_FLAT");
    CheckRadioButton(
        hwnd(), IDC_BROWSE_FLAT, IDC_BROWSE_HIERARCHICAL,
        organization == OPC_NS_HIERARCHIAL ? IDC_BROWSE_HIERARCHICAL : IDC_BROWSE_FLAT);
    Fill();
}

VARTYPE BrowseDialog::TypeFilter() const {
    const LRESULT index = SendDlgItemMessageW(hwnd(), IDC_TYPE_FILTER, CB_GETCURSEL, 0, 0);
    return index > 0 && index < LRESULT(std::size(kTypes)) ? kTypes[index].type : VT_EMPTY;
}

DWORD BrowseDialog::AccessFilter() const {
    const LRESULT index = SendDlgItemMessageW(hwnd(), IDC_ACCESS_FILTER, CB_GETCURSEL, 0, 0);
    return index == 1 ? OPC_READABLE : index == 2 ? OPC_WRITEABLE : 0;
}

void BrowseDialog::ShowFailure(const std::wstring& call, HRESULT hr) {
    Show(call + L" failed : " + HexText(hr), L"Browse");
}

std::vector<std::wstring> BrowseDialog::Names(OPCBROWSETYPE type, const std::wstring& filter) {
    std::vector<std::wstring> names;
    com::ComPtr<IEnumString> names_enum;
    const HRESULT hr = session_->browse()->BrowseOPCItemIDs(
        type, filter.c_str(), type == OPC_BRANCH ? VT_EMPTY : TypeFilter(),
        type == OPC_BRANCH ? 0 : AccessFilter(), names_enum.put());
    if (FAILED(hr)) {
        ShowFailure(L"IOPCBrowseServerAddressSpace::BrowseOPCItemIDs()", hr);
        return names;
    }
    if (!names_enum) return names;
    for (;;) {
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        if (names_enum->Next(1, &name, &fetched) != S_OK || fetched != 1) break;
        names.emplace_back(name ? name : L"");
        CoTaskMemFree(name);
    }
    return names;
}

HRESULT BrowseDialog::MoveTo(const std::vector<std::wstring>& path) {
    // The position belongs to the server object and outlives this dialog: start at the root.
    IOPCBrowseServerAddressSpace* browse = session_->browse();
    HRESULT hr = browse->ChangeBrowsePosition(OPC_BROWSE_TO, L"");
    for (size_t i = 0; SUCCEEDED(hr) && i < path.size(); ++i)
        hr = browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, path[i].c_str());
    if (FAILED(hr)) ShowFailure(L"IOPCBrowseServerAddressSpace::ChangeBrowsePosition()", hr);
    return hr;
}

HTREEITEM BrowseDialog::Insert(HTREEITEM parent, const std::wstring& text, Node node) {
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.cChildren = node.leaf ? 0 : 1;
    insert.item.lParam = static_cast<LPARAM>(nodes_.size());
    nodes_.push_back(std::move(node));
    return TreeView_InsertItem(tree_, &insert);
}

void BrowseDialog::Fill() {
    TreeView_DeleteAllItems(tree_);
    nodes_.clear();
    if (FAILED(MoveTo({}))) return;
    const std::wstring filter = ItemText(IDC_NAME_FILTER);
    if (IsDlgButtonChecked(hwnd(), IDC_BROWSE_FLAT) == BST_CHECKED) {
        for (const std::wstring& id : Names(OPC_FLAT, filter)) {
            Node node;
            node.leaf = true;
            node.itemId = id;
            node.path = {id};
            Insert(TVI_ROOT, id, node);
        }
        return;
    }
    Node root;
    root.filled = true;
    nodes_.push_back(root);  // index 0 stands for the root itself
    AddChildren(TVI_ROOT, 0);
}

void BrowseDialog::AddChildren(HTREEITEM parent, size_t nodeIndex) {
    const std::vector<std::wstring> path = nodes_[nodeIndex].path;
    nodes_[nodeIndex].filled = true;
    if (FAILED(MoveTo(path))) return;
    const std::vector<std::wstring> branches = Names(OPC_BRANCH, L"");
    const std::vector<std::wstring> leaves = Names(OPC_LEAF, ItemText(IDC_NAME_FILTER));
    for (const std::wstring& name : branches) {
        Node node;
        node.path = path;
        node.path.push_back(name);
        Insert(parent, name, node);
    }
    for (const std::wstring& name : leaves) {
        Node node;
        node.leaf = true;
        node.path = path;
        node.path.push_back(name);
        LPWSTR id = nullptr;
        const HRESULT hr = session_->browse()->GetItemID(const_cast<wchar_t*>(name.c_str()), &id);
        node.itemId = SUCCEEDED(hr) && id ? id : name;
        CoTaskMemFree(id);
        Insert(parent, name, node);
    }
    if (branches.empty() && leaves.empty()) {
        // Nothing below: drop the expand button.
        TVITEMW item = {};
        item.mask = TVIF_CHILDREN;
        item.hItem = parent;
        item.cChildren = 0;
        if (parent != TVI_ROOT) TreeView_SetItem(tree_, &item);
    }
}

BrowseDialog::Node* BrowseDialog::Selected(HTREEITEM* handle) {
    HTREEITEM selected = TreeView_GetSelection(tree_);
    if (!selected) return nullptr;
    TVITEMW item = {};
    item.mask = TVIF_PARAM;
    item.hItem = selected;
    if (!TreeView_GetItem(tree_, &item)) return nullptr;
    const size_t index = static_cast<size_t>(item.lParam);
    if (index >= nodes_.size()) return nullptr;
    if (handle) *handle = selected;
    return &nodes_[index];
}

void BrowseDialog::ToggleMark() {
    HTREEITEM handle = nullptr;
    Node* node = Selected(&handle);
    if (!node || !node->leaf) return;
    node->marked = !node->marked;
    const std::wstring name = node->path.back();
    const std::wstring text = node->marked ? kMarker + name : name;
    TVITEMW item = {};
    item.mask = TVIF_TEXT | TVIF_STATE;
    item.hItem = handle;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    item.stateMask = TVIS_BOLD;
    item.state = node->marked ? TVIS_BOLD : 0;
    TreeView_SetItem(tree_, &item);
}

void BrowseDialog::Validate() {
    const Node* node = Selected();
    std::wstring result = L"Select an item first.";
    if (node && node->leaf) session_->ValidateItem(group_, node->itemId, &result);
    SetDlgItemTextW(hwnd(), IDC_VALIDATE_RESULT, result.c_str());
}

void BrowseDialog::AddMarked() {
    std::vector<std::wstring> ids;
    for (const Node& node : nodes_) {
        if (node.leaf && node.marked) ids.push_back(node.itemId);
    }
    if (ids.empty()) return;
    Messages messages;
    session_->AddItems(group_, ids, nullptr, &messages);
    for (const Message& message : messages) Show(message.text, message.caption);
}

}  // namespace kirrow
