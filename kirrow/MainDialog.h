// The main window "OPC_Kirrow": the tree of server, groups and items, and the buttons that
// act on the selection.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "Dialog.h"
#include "core/Session.h"

namespace kirrow {

class MainDialog : public Dialog {
public:
    MainDialog();

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    enum class Kind { kNone, kServer, kGroup, kItem };
    struct Selection {
        Kind kind = Kind::kNone;
        OPCHANDLE handle = 0;
    };

    void Connect();
    void Quit();
    void AddGroup();
    void RemoveGroup();
    void AddItem();
    void RemoveItem();
    void Read();
    void Write();
    void Browse();
    void ShowGroupInfo();
    void ShowItemInfo();

    // Rebuilds the tree from the session and selects what was selected, if it still lives.
    void RefreshTree(Selection select);
    Selection Selected() const;
    // The selected group, or the group of the selected item; 0 when none.
    OPCHANDLE CurrentGroup() const;
    void UpdateButtons();
    void ShowAll(const Messages& messages);
    void SetStatus(const std::wstring& text);

    Session session_;
    HWND tree_ = nullptr;
};

}  // namespace kirrow
