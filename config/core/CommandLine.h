// What OV_Config was started to do.
#pragma once

namespace ovconfig {

enum class StartupAction {
    kShowDialog,
    kRegister,    // "RegServer" after "-" or "/", any case
    kUnregister,  // "UnregServer"
    kExit,        // "Embedding" or "Automation": the program has no classes to serve
};

// Unregistering wins over registering, both over an embedding start.
StartupAction ParseStartupAction(const wchar_t* commandLine);

}  // namespace ovconfig
