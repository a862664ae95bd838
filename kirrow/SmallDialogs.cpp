#include "SmallDialogs.h"

#include <commctrl.h>
#include <prsht.h>

#include "com/CategoryClasses.h"
#include "com/ErrorBox.h"
#include "com/Memory.h"
#include "core/Texts.h"
#include "resource.h"

namespace kirrow {

ServerDialog::ServerDialog() : Dialog(IDD_SERVER) {}

INT_PTR ServerDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            SetDlgItemTextW(hwnd(), IDC_FIELD1, host.c_str());
            std::vector<com::CategoryClass> servers;
            com::ListCategoryClasses({CATID_OPCDAServer20}, &servers);
            for (const auto& server : servers) {
                if (!server.progId.empty())
                    SendDlgItemMessageW(hwnd(), IDC_FIELD2, CB_ADDSTRING, 0,
                                        reinterpret_cast<LPARAM>(server.progId.c_str()));
            }
            if (!progId.empty())
                SetDlgItemTextW(hwnd(), IDC_FIELD2, progId.c_str());
            else
                SendDlgItemMessageW(hwnd(), IDC_FIELD2, CB_SETCURSEL, 0, 0);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                host = ItemText(IDC_FIELD1);
                progId = ItemText(IDC_FIELD2);
            }
            return EndOnOkOrCancel(wParam);
    }
    return FALSE;
}

NameDialog::NameDialog(bool group)
    : Dialog(group ? IDD_GROUP_NAME : IDD_ITEM_NAME),
      name(group ? L"TestGroup" : L"test.out"),
      group_(group) {}

INT_PTR NameDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextW(hwnd(), IDC_FIELD1, name.c_str());
            if (group_) CheckDlgButton(hwnd(), IDC_FIELD2, activate ? BST_CHECKED : BST_UNCHECKED);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                name = ItemText(IDC_FIELD1);
                if (group_) activate = IsDlgButtonChecked(hwnd(), IDC_FIELD2) == BST_CHECKED;
            }
            return EndOnOkOrCancel(wParam);
    }
    return FALSE;
}

void FillInfoList(HWND list, const InfoRows& rows) {
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    RECT area;
    GetClientRect(list, &area);
    const int nameWidth = (area.right - area.left) * 2 / 5;
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = nameWidth;
    column.pszText = const_cast<wchar_t*>(L"Property");
    ListView_InsertColumn(list, 0, &column);
    column.cx = area.right - area.left - nameWidth - GetSystemMetrics(SM_CXVSCROLL);
    column.pszText = const_cast<wchar_t*>(L"Value");
    ListView_InsertColumn(list, 1, &column);
    int index = 0;
    for (const auto& row : rows) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = index;
        item.pszText = const_cast<wchar_t*>(row.first.c_str());
        ListView_InsertItem(list, &item);
        ListView_SetItemText(list, index, 1, const_cast<wchar_t*>(row.second.c_str()));
        ++index;
    }
}

InfoDialog::InfoDialog(std::wstring title, InfoRows rows)
    : Dialog(IDD_INFO), title_(std::move(title)), rows_(std::move(rows)) {}

INT_PTR InfoDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowTextW(hwnd(), title_.c_str());
            FillInfoList(Item(IDC_INFO_LIST), rows_);
            return TRUE;
        case WM_COMMAND: return EndOnOkOrCancel(wParam);
    }
    return FALSE;
}

namespace {

INT_PTR CALLBACK InfoPageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
    FillInfoList(GetDlgItem(page, IDC_INFO_LIST),
                 *reinterpret_cast<const InfoRows*>(sheetPage->lParam));
    return TRUE;
}

}  // namespace

void ShowServerInfo(HWND owner, const Session& session) {
    com::CoTaskMem<OPCSERVERSTATUS> status;
    HRESULT hr = session.server()->GetStatus(status.put());
    if (FAILED(hr) || !status) {
        com::ReportErrorBox((L"IOPCServer::GetStatus() failed : " + HexText(hr)).c_str(),
                            kMessageCaption, MB_OK | MB_ICONWARNING, owner);
        status.reset();
    }
    const OPCSERVERSTATUS* state = status.get();
    LCID locale = 0;
    if (session.common()) session.common()->GetLocaleID(&locale);
    struct Page {
        const wchar_t* title;
        InfoRows rows;
    };
    std::vector<Page> pages;
    pages.push_back({L"Information", ServerInformationRows(session, state)});
    if (state) pages.push_back({L"State", ServerStateRows(*state, locale)});
    pages.push_back({L"Interfaces", InterfaceRows(session.ServerInterfaces())});
    if (state) CoTaskMemFree(state->szVendorInfo);

    std::vector<PROPSHEETPAGEW> sheetPages;
    for (const Page& page : pages) {
        PROPSHEETPAGEW sheetPage = {};
        sheetPage.dwSize = sizeof sheetPage;
        sheetPage.dwFlags = PSP_USETITLE;
        sheetPage.hInstance = GetModuleHandleW(nullptr);
        sheetPage.pszTemplate = MAKEINTRESOURCEW(IDD_INFO_PAGE);
        sheetPage.pszTitle = page.title;
        sheetPage.pfnDlgProc = InfoPageProc;
        sheetPage.lParam = reinterpret_cast<LPARAM>(&page.rows);
        sheetPages.push_back(sheetPage);
    }
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    header.hwndParent = owner;
    header.hInstance = GetModuleHandleW(nullptr);
    header.pszCaption = L"Server Info";
    header.nPages = static_cast<UINT>(sheetPages.size());
    header.ppsp = sheetPages.data();
    PropertySheetW(&header);
}

}  // namespace kirrow
