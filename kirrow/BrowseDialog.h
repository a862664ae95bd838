// "Browse Server Address Space": the server's names, flat or as a tree whose branches are
// read when they are opened; marked leaves are added to the current group in one call.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "Dialog.h"
#include "core/Session.h"

namespace kirrow {

class BrowseDialog : public Dialog {
public:
    BrowseDialog(Session* session, OPCHANDLE group);

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Node {
        std::vector<std::wstring> path;  // branch names from the root; a leaf's includes itself
        std::wstring itemId;             // leaves only
        bool leaf = false;
        bool filled = false;  // a branch's children are in the tree
        bool marked = false;
    };

    void Init();
    void Fill();
    // Moves the server's browse position to the branch (the root for an empty path).
    HRESULT MoveTo(const std::vector<std::wstring>& path);
    void AddChildren(HTREEITEM parent, size_t nodeIndex);
    HTREEITEM Insert(HTREEITEM parent, const std::wstring& text, Node node);
    Node* Selected(HTREEITEM* item = nullptr);
    void ToggleMark();
    void Validate();
    void AddMarked();
    void ShowFailure(const std::wstring& call, HRESULT hr);

    std::vector<std::wstring> Names(OPCBROWSETYPE type, const std::wstring& filter);
    VARTYPE TypeFilter() const;
    DWORD AccessFilter() const;

    Session* session_;
    OPCHANDLE group_;
    HWND tree_ = nullptr;
    std::vector<Node> nodes_;  // the tree items' lParam is the index
};

}  // namespace kirrow
