// Resource and control ids of OPC_Kirrow. Tests and scripts/screenshots drive the windows by
// these numbers, so they do not change.
#pragma once

#define IDR_KIRROW_APPID 1
#define IDR_MAINFRAME 2

#define IDD_MAIN 100
#define IDD_SERVER 101
#define IDD_GROUP_NAME 102
#define IDD_ITEM_NAME 103
#define IDD_BROWSE 104
#define IDD_INFO_PAGE 105
#define IDD_INFO 106

// The system menu's "Connect..." (below 0xF000, a multiple of 16).
#define IDM_CONNECT 0x0100

// Main window.
#define IDC_TREE 1000
#define IDC_STATUS 1001
#define IDC_ADD_GROUP 1010
#define IDC_REMOVE_GROUP 1011
#define IDC_BROWSE 1012
#define IDC_SERVER_INFO 1013
#define IDC_ADD_ITEM 1020
#define IDC_REMOVE_ITEM 1021
#define IDC_GROUP_INFO 1022
#define IDC_READ_VALUE 1030
#define IDC_READ 1031
#define IDC_WRITE_VALUE 1032
#define IDC_WRITE 1033
#define IDC_ITEM_INFO 1034

// Small dialogs: the first field, the second field.
#define IDC_FIELD1 1001
#define IDC_FIELD2 1002
// Information dialogs and pages: the list of rows.
#define IDC_INFO_LIST 1001

// Browse dialog.
#define IDC_ORGANIZATION 1101
#define IDC_BROWSE_FLAT 1102
#define IDC_BROWSE_HIERARCHICAL 1103
#define IDC_ACCESS_FILTER 1104
#define IDC_TYPE_FILTER 1105
#define IDC_NAME_FILTER 1106
#define IDC_REFRESH 1107
#define IDC_BROWSE_TREE 1108
#define IDC_MARK 1109
#define IDC_VALIDATE 1110
#define IDC_VALIDATE_RESULT 1111

#ifndef IDC_STATIC
#define IDC_STATIC -1
#endif
