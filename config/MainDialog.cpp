#include "MainDialog.h"

#include <vector>

#include "InfoDialog.h"
#include "com/CategoryClasses.h"
#include "com/ErrorBox.h"
#include "core/DialogRules.h"
#include "resource.h"

namespace ovconfig {

MainDialog::MainDialog(HINSTANCE instance, HKEY settingsRoot)
    : Dialog(instance, IDD_OV_CONFIG_DIALOG), store_(settingsRoot), initial_(store_.Read()) {
    records_ = initial_.records;
    chosenProgId_ = initial_.busServerProgId;
}

MainDialog::~MainDialog() {
    if (picture_) DeleteObject(picture_);
    if (largeIcon_) DestroyIcon(largeIcon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
}

INT_PTR MainDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: OnInitDialog(); return TRUE;
        case WM_SHOWWINDOW:
            if (wParam) OnShow();
            return FALSE;
        case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                InfoDialog(instance()).Run(hwnd());
                return TRUE;
            }
            return FALSE;
        case WM_DRAWITEM:
            if (wParam == IDC_PICTURE) {
                DrawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
                return TRUE;
            }
            return FALSE;
        case WM_PAINT: return OnPaint();
    }
    return FALSE;
}

void MainDialog::OnInitDialog() {
    if (HMENU menu = GetSystemMenu(hwnd(), FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, LoadText(IDS_ABOUTBOX).c_str());
    }
    largeIcon_ =
        static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon_));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    // A file that is missing, empty or not a bitmap gives the built-in picture.
    picture_ = static_cast<HBITMAP>(
        LoadImageW(nullptr, L"Picture.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    if (!picture_)
        picture_ = static_cast<HBITMAP>(
            LoadImageW(instance(), MAKEINTRESOURCEW(IDB_PICTURE), IMAGE_BITMAP, 0, 0, 0));

    HWND combo = Item(IDC_TEST_AT_CREATE);
    for (UINT id : {IDS_TEST_NONE, IDS_TEST_READ, IDS_TEST_READ_WRITE})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LoadText(id).c_str()));
}

void MainDialog::OnShow() {
    std::wstring title = LoadText(IDS_PROJNAME);
    if (!initial_.version.empty()) title += L" v" + initial_.version;
    SetDlgItemTextW(hwnd(), IDC_TITLE_LINE, title.c_str());
    CheckDlgButton(hwnd(), IDC_CATEGORY_BUS, BST_CHECKED);
    FillServerList();
    SendMessageW(Item(IDC_TEST_AT_CREATE), CB_SETCURSEL,
                 ComboIndexForTestValue(initial_.testAtItemCreate), 0);
    CheckDlgButton(hwnd(), IDC_SERIAL_BUS_ACCESS,
                   initial_.serialBusAccess ? BST_CHECKED : BST_UNCHECKED);
    for (int id : ControlsHiddenBy(store_.ReadHideAdvancedControls()))
        if (HWND control = Item(id)) ShowWindow(control, SW_HIDE);
}

void MainDialog::OnCommand(int id, int code) {
    switch (id) {
        case IDC_CATEGORY_BUS:
        case IDC_CATEGORY_DA10:
        case IDC_CATEGORY_DA20:
            if (code == BN_CLICKED) FillServerList();
            break;
        case IDC_SERVER_LIST:
            if (code == LBN_SELCHANGE) {
                StoreShownTexts();
                ShowTextsOfSelection();
                if (showing_) chosenProgId_ = shownProgId_;
            }
            break;
        case IDOK: OnOk(); break;
        case IDCANCEL: EndDialog(hwnd(), IDCANCEL); break;
    }
}

std::wstring MainDialog::ListEntry(int index) const {
    HWND list = Item(IDC_SERVER_LIST);
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR) return {};
    std::wstring text(length + 1, L'\0');
    const LRESULT copied =
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied == LB_ERR ? 0 : copied);
    return text;
}

void MainDialog::StoreShownTexts() {
    if (showing_)
        records_.Store(shownProgId_, ItemText(IDC_DEV_SPECIFIC), ItemText(IDC_PAR_SPECIFIC));
}

void MainDialog::ShowTextsOfSelection() {
    const LRESULT selected = SendMessageW(Item(IDC_SERVER_LIST), LB_GETCURSEL, 0, 0);
    showing_ = selected != LB_ERR;
    shownProgId_ = showing_ ? ListEntry(static_cast<int>(selected)) : std::wstring();
    const BusServerRecord* record = showing_ ? records_.Find(shownProgId_) : nullptr;
    SetDlgItemTextW(hwnd(), IDC_DEV_SPECIFIC, record ? record->devSpecific.c_str() : L"");
    SetDlgItemTextW(hwnd(), IDC_PAR_SPECIFIC, record ? record->parSpecific.c_str() : L"");
    EnableWindow(Item(IDC_DEV_SPECIFIC), showing_);
    EnableWindow(Item(IDC_PAR_SPECIFIC), showing_);
}

void MainDialog::FillServerList() {
    StoreShownTexts();
    HWND list = Item(IDC_SERVER_LIST);
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected != LB_ERR) chosenProgId_ = ListEntry(static_cast<int>(selected));
    SendMessageW(list, LB_RESETCONTENT, 0, 0);

    const std::vector<CATID> categories =
        CheckedCategories(IsDlgButtonChecked(hwnd(), IDC_CATEGORY_BUS) == BST_CHECKED,
                          IsDlgButtonChecked(hwnd(), IDC_CATEGORY_DA10) == BST_CHECKED,
                          IsDlgButtonChecked(hwnd(), IDC_CATEGORY_DA20) == BST_CHECKED);
    std::vector<com::CategoryClass> classes;
    if (FAILED(com::ListCategoryClasses(categories, &classes))) classes.clear();
    for (const std::wstring& progId : CandidateProgIds(classes, RegistryNames::Load().ownProgId))
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(progId.c_str()));
    // The list is sorted, and LB_FINDSTRINGEXACT ignores case: compare each entry.
    const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        if (ListEntry(index) == chosenProgId_) {
            SendMessageW(list, LB_SETCURSEL, index, 0);
            break;
        }
    }
    ShowTextsOfSelection();
}

bool MainDialog::CheckDevSpecific() {
    for (const BusServerRecord& record : records_.all()) {
        if (IsDevSpecificAcceptable(record.devSpecific)) continue;
        // A stored text the user did not touch is written back as it was.
        const BusServerRecord* before = initial_.records.Find(record.progId);
        if (before && before->devSpecific == record.devSpecific) continue;
        HWND list = Item(IDC_SERVER_LIST);
        const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int index = 0; index < count; ++index) {
            if (ListEntry(index) != record.progId) continue;
            if (index != SendMessageW(list, LB_GETCURSEL, 0, 0)) {
                SendMessageW(list, LB_SETCURSEL, index, 0);
                ShowTextsOfSelection();
                chosenProgId_ = record.progId;
            }
            break;
        }
        MessageBoxW(hwnd(), LoadText(IDS_DEVSPECIFIC_TWICE).c_str(),
                    LoadText(IDS_ERROR_CAPTION).c_str(), MB_OK | MB_ICONERROR);
        HWND edit = Item(IDC_DEV_SPECIFIC);
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        return false;
    }
    return true;
}

void MainDialog::OnOk() {
    StoreShownTexts();
    if (!CheckDevSpecific()) return;
    SaveRequest request;
    const LRESULT selected = SendMessageW(Item(IDC_SERVER_LIST), LB_GETCURSEL, 0, 0);
    request.busServerProgId =
        selected != LB_ERR ? ListEntry(static_cast<int>(selected)) : chosenProgId_;
    request.records = records_;
    request.testAtItemCreate = TestValueForComboIndex(
        static_cast<int>(SendMessageW(Item(IDC_TEST_AT_CREATE), CB_GETCURSEL, 0, 0)));
    request.serialBusAccess = SerialBusAccessToSave(
        initial_.serialBusAccess, IsDlgButtonChecked(hwnd(), IDC_SERIAL_BUS_ACCESS) == BST_CHECKED);
    const std::wstring caption = LoadText(IDS_ERROR_CAPTION);
    for (UINT message : store_.Save(request))
        com::ReportErrorBox(LoadText(message).c_str(), caption.c_str(), MB_OK | MB_ICONERROR,
                            hwnd());
    EndDialog(hwnd(), IDOK);
}

bool MainDialog::OnPaint() {
    if (!IsIconic(hwnd())) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd(), &paint);
    RECT client;
    GetClientRect(hwnd(), &client);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (client.right - cx + 1) / 2, (client.bottom - cy + 1) / 2, largeIcon_);
    EndPaint(hwnd(), &paint);
    return true;
}

void MainDialog::DrawPicture(const DRAWITEMSTRUCT& draw) {
    FillRect(draw.hDC, &draw.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    BITMAP bitmap = {};
    if (!picture_ || !GetObjectW(picture_, sizeof bitmap, &bitmap)) return;
    const RECT target = FitPicture(draw.rcItem, {bitmap.bmWidth, bitmap.bmHeight});
    HDC memory = CreateCompatibleDC(draw.hDC);
    if (!memory) return;
    HGDIOBJ old = SelectObject(memory, picture_);
    SetStretchBltMode(draw.hDC, HALFTONE);
    StretchBlt(draw.hDC, target.left, target.top, target.right - target.left,
               target.bottom - target.top, memory, 0, 0, bitmap.bmWidth, bitmap.bmHeight, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

}  // namespace ovconfig
