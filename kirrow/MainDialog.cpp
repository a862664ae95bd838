#include "MainDialog.h"

#include "BrowseDialog.h"
#include "SmallDialogs.h"
#include "core/InfoRows.h"
#include "core/Texts.h"
#include "resource.h"

namespace kirrow {
namespace {

// Posted from WM_INITDIALOG so that the server choice opens over the main window, which is
// visible from its creation (WS_VISIBLE): a dialog is otherwise shown only once idle.
constexpr UINT kConnectAtStart = WM_APP + 1;

LPARAM Pack(int kind, OPCHANDLE handle) {
    return static_cast<LPARAM>((static_cast<ULONGLONG>(kind) << 32) | handle);
}

}  // namespace

MainDialog::MainDialog() : Dialog(IDD_MAIN) {}

INT_PTR MainDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            tree_ = Item(IDC_TREE);
            if (HMENU menu = GetSystemMenu(hwnd(), FALSE)) {
                AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
                AppendMenuW(menu, MF_STRING, IDM_CONNECT, L"Connect...");
            }
            UpdateButtons();
            PostMessageW(hwnd(), kConnectAtStart, 0, 0);
            return TRUE;
        }
        case kConnectAtStart: Connect(); return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_CONNECT) {
                Connect();
                SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, 0);
                return TRUE;
            }
            return FALSE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_TREE && header->code == TVN_SELCHANGEDW) UpdateButtons();
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_ADD_GROUP: AddGroup(); return TRUE;
                case IDC_REMOVE_GROUP: RemoveGroup(); return TRUE;
                case IDC_BROWSE: Browse(); return TRUE;
                case IDC_SERVER_INFO:
                    if (session_.connected()) ShowServerInfo(hwnd(), session_);
                    return TRUE;
                case IDC_ADD_ITEM: AddItem(); return TRUE;
                case IDC_REMOVE_ITEM: RemoveItem(); return TRUE;
                case IDC_GROUP_INFO: ShowGroupInfo(); return TRUE;
                case IDC_READ: Read(); return TRUE;
                case IDC_WRITE: Write(); return TRUE;
                case IDC_ITEM_INFO: ShowItemInfo(); return TRUE;
                case IDCANCEL: Quit(); return TRUE;
            }
            break;
    }
    return FALSE;
}

void MainDialog::Connect() {
    ServerDialog choice;
    choice.progId = session_.progId();
    if (!session_.host().empty()) choice.host = session_.host();
    session_.Disconnect();
    RefreshTree({});
    SetStatus(L"Not connected");
    if (choice.Run(hwnd()) != IDOK) return;
    Messages messages;
    if (SUCCEEDED(session_.Connect(choice.host, choice.progId, &messages))) {
        SetStatus(L"Connected to " + session_.DisplayName());
        RefreshTree({Kind::kServer, 0});
    }
    ShowAll(messages);
}

void MainDialog::Quit() {
    // Items and groups go first and every interface is released, so that the server ends.
    session_.Disconnect();
    EndDialog(hwnd(), IDCANCEL);
}

void MainDialog::AddGroup() {
    Messages messages;
    if (!session_.connected()) {
        session_.AddGroup(L"", false, nullptr, &messages);  // "Server does not exist!"
        ShowAll(messages);
        return;
    }
    NameDialog dialog = NameDialog::ForGroup();
    if (dialog.Run(hwnd()) != IDOK) return;
    OPCHANDLE group = 0;
    if (SUCCEEDED(session_.AddGroup(dialog.name, dialog.activate, &group, &messages)))
        RefreshTree({Kind::kGroup, group});
    ShowAll(messages);
}

void MainDialog::RemoveGroup() {
    const Selection selection = Selected();
    if (selection.kind != Kind::kGroup) return;
    Messages messages;
    session_.RemoveGroup(selection.handle, &messages);
    RefreshTree({Kind::kServer, 0});
    ShowAll(messages);
}

void MainDialog::AddItem() {
    const OPCHANDLE group = CurrentGroup();
    Messages messages;
    if (!group) {
        session_.AddItems(0, {}, nullptr, &messages);  // "No group selected."
        ShowAll(messages);
        return;
    }
    NameDialog dialog = NameDialog::ForItem();
    if (dialog.Run(hwnd()) != IDOK) return;
    std::vector<OPCHANDLE> added;
    session_.AddItems(group, {dialog.name}, &added, &messages);
    RefreshTree(added.empty() ? Selection{Kind::kGroup, group} : Selection{Kind::kItem, added[0]});
    ShowAll(messages);
}

void MainDialog::RemoveItem() {
    const Selection selection = Selected();
    if (selection.kind != Kind::kItem) return;
    const OPCHANDLE group = CurrentGroup();
    Messages messages;
    session_.RemoveItem(selection.handle, &messages);
    RefreshTree({Kind::kGroup, group});
    ShowAll(messages);
}

void MainDialog::Read() {
    const Selection selection = Selected();
    if (selection.kind != Kind::kItem) return;
    Messages messages;
    if (SUCCEEDED(session_.Read(selection.handle, &messages))) {
        const auto item = session_.Item(selection.handle);
        SetDlgItemTextW(hwnd(), IDC_READ_VALUE, ReadValueText(*item->value.get()).c_str());
        SetStatus(QualityAndTimeText(item->quality, item->timeStamp));
    }
    ShowAll(messages);
}

void MainDialog::Write() {
    const Selection selection = Selected();
    if (selection.kind != Kind::kItem) return;
    Messages messages;
    if (SUCCEEDED(session_.Write(selection.handle, ItemText(IDC_WRITE_VALUE), &messages)))
        SetStatus(L"Written");
    ShowAll(messages);
}

void MainDialog::Browse() {
    if (!session_.connected()) {
        ShowAll({{L"Server does not exist!", kMessageCaption}});
        return;
    }
    if (!session_.browse()) {
        ShowAll({{L"No Browse Interface available.", kMessageCaption}});
        return;
    }
    const OPCHANDLE group = CurrentGroup();
    BrowseDialog dialog(&session_, group);
    if (dialog.Run(hwnd()) == IDOK) RefreshTree(Selected());
}

void MainDialog::ShowGroupInfo() {
    const auto group = session_.Group(CurrentGroup());
    if (!group || !group->stateMgt) return;
    DWORD updateRate = 0;
    BOOL active = FALSE;
    LPWSTR name = nullptr;
    LONG timeBias = 0;
    float deadband = 0;
    DWORD locale = 0;
    OPCHANDLE clientHandle = 0, serverHandle = 0;
    const HRESULT hr = group->stateMgt->GetState(&updateRate, &active, &name, &timeBias, &deadband,
                                                 &locale, &clientHandle, &serverHandle);
    if (FAILED(hr)) {
        ShowAll({{L"IOPCGroupStateMgt::GetState() failed : " + HexText(hr), kMessageCaption}});
        return;
    }
    const std::wstring groupName = name ? name : L"";
    CoTaskMemFree(name);
    InfoDialog(L"Group Info",
               GroupRows(*group, updateRate, active, timeBias, deadband, locale, groupName))
        .Run(hwnd());
}

void MainDialog::ShowItemInfo() {
    const Selection selection = Selected();
    const auto item = selection.kind == Kind::kItem ? session_.Item(selection.handle) : nullptr;
    if (item) InfoDialog(L"Item Info", ItemRows(*item)).Run(hwnd());
}

void MainDialog::RefreshTree(Selection select) {
    TreeView_DeleteAllItems(tree_);
    if (session_.connected()) {
        const auto insert = [&](HTREEITEM parent, const std::wstring& text, Kind kind,
                                OPCHANDLE handle) {
            TVINSERTSTRUCTW entry = {};
            entry.hParent = parent;
            entry.hInsertAfter = TVI_LAST;
            entry.item.mask = TVIF_TEXT | TVIF_PARAM;
            entry.item.pszText = const_cast<wchar_t*>(text.c_str());
            entry.item.lParam = Pack(static_cast<int>(kind), handle);
            HTREEITEM added = TreeView_InsertItem(tree_, &entry);
            if (kind == select.kind && handle == select.handle) TreeView_SelectItem(tree_, added);
            return added;
        };
        HTREEITEM server = insert(TVI_ROOT, session_.DisplayName(), Kind::kServer, 0);
        for (const OPCHANDLE handle : session_.GroupHandles()) {
            const auto group = session_.Group(handle);
            HTREEITEM groupItem = insert(server, group->DisplayName(), Kind::kGroup, handle);
            for (const OPCHANDLE itemHandle : group->items) {
                if (const auto item = session_.Item(itemHandle))
                    insert(groupItem, item->itemId, Kind::kItem, itemHandle);
            }
            TreeView_Expand(tree_, groupItem, TVE_EXPAND);
        }
        TreeView_Expand(tree_, server, TVE_EXPAND);
        if (!TreeView_GetSelection(tree_)) TreeView_SelectItem(tree_, server);
    }
    SetDlgItemTextW(hwnd(), IDC_READ_VALUE, L"");
    UpdateButtons();
}

MainDialog::Selection MainDialog::Selected() const {
    TVITEMW item = {};
    item.mask = TVIF_PARAM;
    item.hItem = TreeView_GetSelection(tree_);
    if (!item.hItem || !TreeView_GetItem(tree_, &item)) return {};
    const auto packed = static_cast<ULONGLONG>(item.lParam);
    return {static_cast<Kind>(packed >> 32), static_cast<OPCHANDLE>(packed & 0xFFFFFFFFu)};
}

OPCHANDLE MainDialog::CurrentGroup() const {
    const Selection selection = Selected();
    if (selection.kind == Kind::kGroup) return selection.handle;
    if (selection.kind == Kind::kItem) {
        if (const auto item = session_.Item(selection.handle)) return item->groupHandle;
    }
    return 0;
}

void MainDialog::UpdateButtons() {
    const bool connected = session_.connected();
    const Kind kind = Selected().kind;
    const bool group = kind == Kind::kGroup, item = kind == Kind::kItem;
    // Add Group and Add Item stay enabled: they tell why nothing can be added.
    const struct {
        int id;
        bool enabled;
    } states[] = {
        {IDC_ADD_GROUP, true},           {IDC_REMOVE_GROUP, group}, {IDC_BROWSE, connected},
        {IDC_SERVER_INFO, connected},    {IDC_ADD_ITEM, true},      {IDC_REMOVE_ITEM, item},
        {IDC_GROUP_INFO, group || item}, {IDC_READ, item},          {IDC_WRITE, item},
        {IDC_ITEM_INFO, item},           {IDC_WRITE_VALUE, item},
    };
    for (const auto& state : states) EnableWindow(Item(state.id), state.enabled);
}

void MainDialog::ShowAll(const Messages& messages) {
    for (const Message& message : messages) Show(message.text, message.caption);
}

void MainDialog::SetStatus(const std::wstring& text) {
    SetDlgItemTextW(hwnd(), IDC_STATUS, text.c_str());
}

}  // namespace kirrow
