// The program's COM application identity: an AppID and the executable's name under AppID.
#pragma once

#include <windows.h>

HRESULT RegisterProgram();
HRESULT UnregisterProgram();
