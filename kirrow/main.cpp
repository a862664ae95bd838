// OPC_Kirrow.exe: a small interactive OPC DA 2.0 client for Orvane or any other server.
//
//   OPC_Kirrow.exe                         the main window, then the server choice
//   OPC_Kirrow.exe /RegServer | -UnregServer
#include <windows.h>
#include <commctrl.h>

#include "MainDialog.h"
#include "Registration.h"
#include "com/ComInit.h"
#include "core/Texts.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    com::ComInitializer com(COINIT_APARTMENTTHREADED);
    if (!com.succeeded()) return 1;
    switch (kirrow::ParseStartupAction(commandLine)) {
        case kirrow::StartupAction::kRegister: return SUCCEEDED(RegisterProgram()) ? 0 : 1;
        case kirrow::StartupAction::kUnregister: return SUCCEEDED(UnregisterProgram()) ? 0 : 1;
        case kirrow::StartupAction::kRun: break;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES |
                                                          ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    kirrow::MainDialog dialog;
    dialog.Run(nullptr);
    return 0;
}
