#pragma once

#include <windows.h>

#include <string>

#include "com/Version.h"

// What the process learns at start-up and GetStatus reports: the version
// numbers and the vendor text of the program's version resource.
struct ServerStartup {
    FILETIME startTime = {};
    com::FileVersion version;
    std::wstring vendor;
};

// Reads the version resource and takes the start time (once, in the main thread).
void InitServerStartup();
const ServerStartup& GetServerStartup();
