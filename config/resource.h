// Resource ids of OV_Config. Dialog control ids are the ones administrators' notes and
// the HideAdvancedControls bits refer to; keep them.
#pragma once

// System-menu command and its text.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDM_ABOUTBOX 0x0010
#define IDS_ABOUTBOX 16

#define IDD_ABOUTBOX 100
#define IDD_OV_CONFIG_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_PICTURE 129
#define IDR_OV_CONFIG_APPID 130

// Main dialog.
#define IDC_SERVER_LIST 1000
#define IDC_CATEGORY_DA10 1003
#define IDC_CATEGORY_DA20 1004
#define IDC_TITLE_LINE 1005
#define IDC_PICTURE 1006
#define IDC_DEV_SPECIFIC 1007
#define IDC_PAR_SPECIFIC 1008
#define IDC_CATEGORY_BUS 1010
#define IDC_TEST_AT_CREATE 1011
#define IDC_DISPLAY_LABEL 1012
#define IDC_CATEGORY_FRAME 1014
#define IDC_TEST_GROUP 1015
#define IDC_SERVER_GROUP 1016
#define IDC_TEST_LABEL 1017
#define IDC_DEV_LABEL 1019
#define IDC_PAR_LABEL 1020
#define IDC_SERIAL_BUS_ACCESS 1021
// Not in the dialog; HideAdvancedControls still names it.
#define IDC_RESERVED_1018 1018

// Information box.
#define IDC_COMPONENTS 1030
#define IDC_VERSION_LINE 1031

// String table.
#define IDS_PROJNAME 1100
#define IDS_SETTINGS_PATH 2000       // "Axolent\Orvane"
#define IDS_SOFTWARE 2001            // "Software"
#define IDS_BUSSERVERS_PATH 2002     // "Axolent\%s\BusServers"
#define IDS_BUSSERVERINFO_PATH 2003  // "Axolent\%s\BusServerInfo"
#define IDS_BUSSERVERPROGID 2004     // "BusServerProgID%d"
#define IDS_CLSID 2005
#define IDS_OWN_PROGID 2006  // "Axolent.Orvane"
#define IDS_PARSPECIFIC 2007
#define IDS_DEVSPECIFIC 2008
#define IDS_ERROR_OPEN_FOR_WRITING 2009
#define IDS_ERROR_CREATE_KEY 2010
#define IDS_ERROR_SAVING 2011
#define IDS_VERSION 2012             // "Version"
#define IDS_PRODUCT_KEY_FORMAT 2013  // "Axolent\%s"
#define IDS_TESTATITEMCREATE 2014
#define IDS_HIDEADVANCEDCONTROLS 2015
#define IDS_SERIALBUSACCESS 2018
#define IDS_DEVSPECIFIC_TWICE 2016
#define IDS_ERROR_CAPTION 2017
#define IDS_TEST_NONE 2020
#define IDS_TEST_READ 2021
#define IDS_TEST_READ_WRITE 2022
#define IDS_COLUMN_NAME 2023
#define IDS_COLUMN_VERSION 2024
