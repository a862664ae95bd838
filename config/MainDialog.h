// The settings dialog: the bus server of Orvane, its two texts, the parameter test and the
// serial bus access.
// What it shows and writes is decided by the core; this class binds the controls to it.
#pragma once

#include <string>

#include "Dialog.h"
#include "core/SettingsStore.h"

namespace ovconfig {

class MainDialog : public Dialog {
public:
    explicit MainDialog(HINSTANCE instance, HKEY settingsRoot = HKEY_LOCAL_MACHINE);
    ~MainDialog() override;

private:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnInitDialog();
    void OnShow();
    void OnCommand(int id, int code);
    void OnOk();
    bool OnPaint();
    void DrawPicture(const DRAWITEMSTRUCT& draw);

    void FillServerList();
    void StoreShownTexts();
    void ShowTextsOfSelection();
    std::wstring ListEntry(int index) const;
    // The first edited DevSpecific with "%d" twice: selected, focused, reported. False then.
    bool CheckDevSpecific();

    SettingsStore store_;
    StoredSettings initial_;  // as read when the dialog was created
    BusServerRecords records_;
    std::wstring chosenProgId_;
    std::wstring shownProgId_;  // whose texts are in the edits
    bool showing_ = false;      // an entry's texts are in the edits
    HBITMAP picture_ = nullptr;
    HICON largeIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
};

}  // namespace ovconfig
