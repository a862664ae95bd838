#include "GuiDriver.h"

#include <commctrl.h>

namespace guidriver {
namespace {

// Cross-process messages with a bound, so that a hung target cannot hang the driver.
constexpr UINT kSendTimeoutMs = 5000;

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result))
        return -1;
    return static_cast<LRESULT>(result);
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

struct FindData {
    const std::wstring* title;
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param) {
    auto* data = reinterpret_cast<FindData*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if ((data->pid && pid != data->pid) || !IsWindowVisible(window)) return TRUE;
    if (Text(window) != *data->title) return TRUE;
    data->found = window;
    return FALSE;
}

// Memory in the target process, for controls whose messages carry pointers to structures.
class RemoteBuffer {
public:
    RemoteBuffer(HWND owner, SIZE_T size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(owner, &pid);
        process_ =
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_)
            address_ =
                VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    explicit operator bool() const { return address_ != nullptr; }
    BYTE* at(SIZE_T offset) const { return static_cast<BYTE*>(address_) + offset; }
    bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
        return offset + size <= size_ &&
               WriteProcessMemory(process_, at(offset), data, size, nullptr);
    }
    bool Read(SIZE_T offset, void* data, SIZE_T size) const {
        return offset + size <= size_ &&
               ReadProcessMemory(process_, at(offset), data, size, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    SIZE_T size_;
};

constexpr int kTextChars = 1024;

// Item text of a list view cell, through the remote buffer: the LVITEMW first, its text
// behind it.
std::wstring ListViewCell(HWND list, const RemoteBuffer& buffer, int row, int column) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = reinterpret_cast<LPWSTR>(buffer.at(sizeof(LVITEMW)));
    item.cchTextMax = kTextChars;
    if (!buffer.Write(0, &item, sizeof item)) return {};
    const LRESULT length =
        Send(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(buffer.at(0)));
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length), L'\0');
    buffer.Read(sizeof(LVITEMW), &text[0], length * sizeof(wchar_t));
    return text;
}

// The texts of a list box's or a combo box's entries, by that control's own messages.
std::vector<std::wstring> EntryTexts(HWND control, UINT countMsg, UINT lengthMsg, UINT textMsg) {
    std::vector<std::wstring> items;
    const LRESULT count = Send(control, countMsg, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        const LRESULT length = Send(control, lengthMsg, index, 0);
        std::wstring text(length > 0 ? length + 1 : 1, L'\0');
        const LRESULT copied = Send(control, textMsg, index, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
        items.push_back(text);
    }
    return items;
}

}  // namespace

HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs, DWORD pid) {
    FindData data = {&title, pid, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&data));
            return data.found != nullptr;
        },
        timeoutMs);
    return data.found;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    return WaitUntil([&] { return !IsWindow(window); }, timeoutMs);
}

std::wstring Text(HWND window) {
    const LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

bool SetText(HWND window, const std::wstring& text) {
    return Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) == TRUE;
}

bool Click(HWND button) { return PostMessageW(button, BM_CLICK, 0, 0) != FALSE; }

bool PostSysCommand(HWND window, WPARAM command) {
    return PostMessageW(window, WM_SYSCOMMAND, command, 0) != FALSE;
}

std::vector<std::wstring> ListBoxItems(HWND list) {
    return EntryTexts(list, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
}

int ListBoxSelection(HWND list) { return static_cast<int>(Send(list, LB_GETCURSEL, 0, 0)); }

bool ListBoxSelect(HWND list, int index) {
    if (Send(list, LB_SETCURSEL, index, 0) == LB_ERR && index >= 0) return false;
    return PostMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(list)) != FALSE;
}

std::vector<std::wstring> ComboItems(HWND combo) {
    return EntryTexts(combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
}

int ComboSelection(HWND combo) { return static_cast<int>(Send(combo, CB_GETCURSEL, 0, 0)); }

bool ComboSelect(HWND combo, int index) {
    if (Send(combo, CB_SETCURSEL, index, 0) == CB_ERR && index >= 0) return false;
    return PostMessageW(GetParent(combo), WM_COMMAND,
                        MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(combo)) != FALSE;
}

std::vector<std::vector<std::wstring>> ListViewRows(HWND list) {
    std::vector<std::vector<std::wstring>> rows;
    RemoteBuffer buffer(list, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
    if (!buffer) return rows;
    HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
    const LRESULT columns = header ? Send(header, HDM_GETITEMCOUNT, 0, 0) : 1;
    const LRESULT count = Send(list, LVM_GETITEMCOUNT, 0, 0);
    for (int row = 0; row < count; ++row) {
        std::vector<std::wstring> cells;
        for (int column = 0; column < (columns > 0 ? columns : 1); ++column)
            cells.push_back(ListViewCell(list, buffer, row, column));
        rows.push_back(cells);
    }
    return rows;
}

std::vector<TreeItem> TreeViewItems(HWND tree) {
    std::vector<TreeItem> items;
    RemoteBuffer buffer(tree, sizeof(TVITEMW) + kTextChars * sizeof(wchar_t));
    if (!buffer) return items;
    struct Pending {
        HTREEITEM item;
        int depth;
    };
    std::vector<Pending> stack;
    auto next = [&](UINT relation, HTREEITEM from) {
        return reinterpret_cast<HTREEITEM>(
            Send(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from)));
    };
    if (HTREEITEM root = next(TVGN_ROOT, nullptr)) stack.push_back({root, 0});
    while (!stack.empty()) {
        const Pending current = stack.back();
        stack.pop_back();
        TVITEMW item = {};
        item.mask = TVIF_TEXT | TVIF_HANDLE;
        item.hItem = current.item;
        item.pszText = reinterpret_cast<LPWSTR>(buffer.at(sizeof(TVITEMW)));
        item.cchTextMax = kTextChars;
        std::wstring text;
        if (buffer.Write(0, &item, sizeof item) &&
            Send(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer.at(0)))) {
            text.resize(kTextChars);
            buffer.Read(sizeof(TVITEMW), &text[0], kTextChars * sizeof(wchar_t));
            text.resize(wcsnlen(text.c_str(), kTextChars));
        }
        items.push_back({current.depth, text});
        // Siblings after the children: push the sibling first.
        if (HTREEITEM sibling = next(TVGN_NEXT, current.item))
            stack.push_back({sibling, current.depth});
        if (HTREEITEM child = next(TVGN_CHILD, current.item))
            stack.push_back({child, current.depth + 1});
    }
    return items;
}

bool IsVisible(HWND window) { return IsWindowVisible(window) != FALSE; }
bool IsEnabled(HWND window) { return IsWindowEnabled(window) != FALSE; }

RECT WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info = {sizeof info};
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

MessageBoxInfo WaitForMessageBox(const std::wstring& caption, DWORD pid, DWORD timeoutMs) {
    MessageBoxInfo box;
    box.window = WaitForWindow(caption, timeoutMs, pid);
    if (!box.window) return box;
    box.caption = caption;
    // The text is the static control that is not the icon; its id differs between systems.
    for (HWND child = GetWindow(box.window, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) != L"Static") continue;
        const std::wstring text = Text(child);
        if (text.size() > box.text.size()) box.text = text;
    }
    return box;
}

bool DismissMessageBox(const MessageBoxInfo& box) {
    if (!box.window) return false;
    HWND ok = GetDlgItem(box.window, IDOK);
    if (!ok) {
        for (HWND child = GetWindow(box.window, GW_CHILD); child && !ok;
             child = GetWindow(child, GW_HWNDNEXT))
            if (ClassName(child) == L"Button") ok = child;
    }
    return ok && Click(ok);
}

}  // namespace guidriver
