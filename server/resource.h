#pragma once

// Registry scripts.
#define IDR_ORVANE_APPID 100
#define IDR_OPCORVANE 101

// Strings.
#define IDS_PROJNAME 100
#define IDS_ERROR_CAPTION 102
#define IDS_NO_INTERACTION 121
