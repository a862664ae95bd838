#pragma once

#include <windows.h>

// "RegServer": AppID script, class script with the implemented categories, type libraries.
HRESULT RegisterServer();
// "UnregServer": the same steps undone.
HRESULT UnregisterServer();
