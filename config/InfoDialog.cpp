#include "InfoDialog.h"

#include <commctrl.h>

#include "core/ComponentTable.h"
#include "resource.h"

namespace ovconfig {

InfoDialog::InfoDialog(HINSTANCE instance) : Dialog(instance, IDD_ABOUTBOX) {}

INT_PTR InfoDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: FillComponents(); return TRUE;
        case WM_COMMAND: return EndOnOkOrCancel(wParam);
    }
    return FALSE;
}

void InfoDialog::FillComponents() {
    HWND list = Item(IDC_COMPONENTS);
    ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP);
    RECT client;
    GetClientRect(list, &client);
    const int width = client.right - client.left;
    const std::wstring name = LoadText(IDS_COLUMN_NAME);
    const std::wstring version = LoadText(IDS_COLUMN_VERSION);
    struct {
        const wchar_t* title;
        int width;
    } columns[] = {{name.c_str(), width / 4}, {version.c_str(), width / 4}, {L"", width / 2}};
    for (int index = 0; index < 3; ++index) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(columns[index].title);
        column.cx = columns[index].width;
        column.iSubItem = index;
        ListView_InsertColumn(list, index, &column);
    }
    int row = 0;
    for (const ComponentRow& component : ReadComponentRows()) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(component.name.c_str());
        const int inserted = ListView_InsertItem(list, &item);
        if (inserted < 0) continue;
        ListView_SetItemText(list, inserted, 1, const_cast<wchar_t*>(component.version.c_str()));
        ListView_SetItemText(list, inserted, 2, const_cast<wchar_t*>(component.path.c_str()));
        ++row;
    }
}

}  // namespace ovconfig
