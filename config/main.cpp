// OV_Config.exe: chooses the bus server of Orvane and the drive-interaction module's
// parameter test, and shows the installed components with their versions.
//
//   OV_Config.exe                      the settings dialog
//   OV_Config.exe /RegServer | -UnregServer
#include <windows.h>
#include <commctrl.h>

#include "MainDialog.h"
#include "Registration.h"
#include "com/ComInit.h"
#include "core/CommandLine.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    com::ComInitializer com(COINIT_APARTMENTTHREADED);
    if (!com.succeeded()) return 1;
    switch (ovconfig::ParseStartupAction(commandLine)) {
        case ovconfig::StartupAction::kRegister: return SUCCEEDED(RegisterProgram()) ? 0 : 1;
        case ovconfig::StartupAction::kUnregister: return SUCCEEDED(UnregisterProgram()) ? 0 : 1;
        case ovconfig::StartupAction::kExit:
            // Started by COM: there is no class to serve, so waiting would only leave a
            // process without a window behind.
            return 0;
        case ovconfig::StartupAction::kShowDialog: break;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ovconfig::MainDialog dialog(instance);
    dialog.Run();
    return 0;
}
