// Resource identifiers shared by relaymoth.rc and the C++ sources. Plain #defines
// because windres reads this file too.
#pragma once

// Icons
#define IDI_MAIN 128       // program and tray icon
#define IDI_PROXY_ON 131   // floating window: a proxy is in use
#define IDI_PROXY_OFF 132  // floating window: no proxy
#define IDI_TRAY_BUSY 141  // tray frame while verifying

// Dialogs
#define IDD_PROXY_LIST 102
#define IDD_ABOUT 135

// Menus
#define IDR_SYSTEM_MENU 129
#define IDR_LIST_MENU 136
#define IDR_EXPORT_MENU 142

// Strings
#define IDS_APP_TITLE 1
#define IDS_NOT_VERIFIED 2
#define IDS_LIST_TITLE 4
#define IDS_MENU_HINT 6
#define IDS_RESERVED_MARK 10
#define IDS_TRAY_TIP 11

// Controls of the main dialog (102)
#define IDC_PROXY_LIST 1000
#define IDC_PROXY_EDIT 1001
#define IDC_ADD_PROXY 1002
#define IDC_DELETE_SELECTED 1003
#define IDC_DOWNLOAD_LIST 1004
#define IDC_VERIFY_ALL 1006
#define IDC_DOWNLOAD_SETTINGS 1007
#define IDC_IMPORT_LIST 1008
#define IDC_EXPORT_LIST 1009
#define IDC_VERIFY_SELECTED 1010
#define IDC_VERIFY_SETTINGS 1011
#define IDC_STOP_VERIFY 1012
#define IDC_ONLINE_HELP 1016
#define IDC_LIST_GROUP 1019
#define IDC_RUN_SETTINGS 1046
#define IDC_AUTO_SWITCH 1063
#define IDC_AUTO_SWITCH_SECONDS 1071

// Controls of the about box (135)
#define IDC_ABOUT_SITE 1018
#define IDC_ABOUT_HELP 1019

// Commands
#define IDM_SHOW_MAIN_DIALOG 32771
#define IDM_NO_PROXY 32772
#define IDM_MAKE_FAVORITE 32773
#define IDM_MAKE_GENERAL 32774
#define IDM_SORT_BY_RESULT 32775
#define IDM_EXIT 32776
#define IDM_VERIFY_ALL 32777
#define IDM_EXPORT_HOST_PORT 32778
#define IDM_EXPORT_FULL_LINE 32779
#define IDM_MAKE_RESERVED 32780
