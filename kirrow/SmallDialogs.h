// The server choice, the group and item names, and the information dialogs.
#pragma once

#include <windows.h>

#include <string>

#include "Dialog.h"
#include "core/InfoRows.h"
#include "core/Session.h"

namespace kirrow {

// "Select OPC Server": Host and ProgId; the ProgIds of the registered OPC DA 2.0 servers
// are offered.
class ServerDialog : public Dialog {
public:
    ServerDialog();
    std::wstring host = L"localserver";
    std::wstring progId;

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// "Group Name" with "Activate", or "Item Name".
class NameDialog : public Dialog {
public:
    static NameDialog ForGroup() { return NameDialog(true); }
    static NameDialog ForItem() { return NameDialog(false); }
    std::wstring name;
    bool activate = true;

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    explicit NameDialog(bool group);
    bool group_;
};

// A titled dialog with rows of property and value.
class InfoDialog : public Dialog {
public:
    InfoDialog(std::wstring title, InfoRows rows);

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    std::wstring title_;
    InfoRows rows_;
};

// Fills a report list view with the rows.
void FillInfoList(HWND list, const InfoRows& rows);

// "Server Info": a property sheet with the pages "Information", "State" and "Interfaces".
// A failed GetStatus is shown and leaves the state page out.
void ShowServerInfo(HWND owner, const Session& session);

}  // namespace kirrow
