#include "CommandLine.h"

#include "com/CommandLine.h"

namespace ovconfig {

StartupAction ParseStartupAction(const wchar_t* commandLine) {
    if (com::HasSwitch(commandLine, L"UnregServer")) return StartupAction::kUnregister;
    if (com::HasSwitch(commandLine, L"RegServer")) return StartupAction::kRegister;
    if (com::HasSwitch(commandLine, L"Embedding") || com::HasSwitch(commandLine, L"Automation"))
        return StartupAction::kExit;
    return StartupAction::kShowDialog;
}

}  // namespace ovconfig
