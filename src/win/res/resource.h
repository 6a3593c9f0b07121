// Every resource identifier of the program, shared by the .rc files and the C++
// sources: one space of control and command ids, so that no id names two
// controls (a dialog's handler, a skin hook or a test that finds a control by
// its id always finds the one meant). Plain #defines because windres reads
// this file too.
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

// Controls of the main dialog (IDD_PROXY_LIST)
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
#define IDC_PLACE_FILTER 1107
// No control has it: the main dialog names it as its default so that Enter
// outside the entry edit does nothing.
#define IDC_NO_DEFAULT_COMMAND 1099

// Controls of the about box (IDD_ABOUT)
#define IDC_ABOUT_SITE 1018
#define IDC_ABOUT_HELP 1017

// ---- Verify settings and site editor (verify_dialogs.rc)

// Dialogs
#define IDD_VERIFY_SETTINGS 137
#define IDD_SITE_EDITOR 139

// Verify settings dialog (IDD_VERIFY_SETTINGS). Button "×" deletes the selected site.
#define IDC_DELETE_SITE 1028
#define IDC_SITE_LIST 1020
#define IDC_EDIT_SITE 1021
#define IDC_NEW_SITE 1022
#define IDC_SITE_TOP 1023
#define IDC_SITE_UP 1024
#define IDC_SITE_BOTTOM 1025
#define IDC_SITE_DOWN 1026
#define IDC_VERIFY_NEW 1027
#define IDC_REVERIFY_INTERVAL 1029
#define IDC_REVERIFY_ROWS 1030
#define IDC_RESET_FAVORITES 1031
#define IDC_TIME_LESS_THAN 1033
#define IDC_REVERIFY_BY_TIME 1034
#define IDC_ADD_LINK_TIME_LESS 1035
#define IDC_ADD_BEST 1036
#define IDC_BEST_COUNT 1037
#define IDC_ONLY_SELECTED_TYPES 1039
#define IDC_ADD_HTTP 1040
#define IDC_ADD_SOCKS 1041
#define IDC_ADD_FTP 1042
#define IDC_THREADS 1044
#define IDC_AUTO_USE_BEST 1045
#define IDC_AUTO_DELETE_FAILED 1047
#define IDC_BEST_COUNT_LABEL 1048
#define IDC_SECONDS_LABEL 1049
#define IDC_CONNECTS_IN_FLIGHT 1080
#define IDC_DETECT_UNTYPED 1081

// Destination site editor (IDD_SITE_EDITOR)
#define IDC_SITE_URL 1050
#define IDC_SITE_USER 1051
#define IDC_SITE_PASSWORD 1052
#define IDC_SITE_VERIFY_STRING 1053

// ---- List download (download_dialogs.rc)

// Dialogs
#define IDD_DOWNLOAD_SETTINGS 133
#define IDD_DOWNLOAD_PROGRESS 134

// Strings
#define IDS_DOWNLOAD_FAILED 3
#define IDS_CONNECTING 5

// Download settings dialog (IDD_DOWNLOAD_SETTINGS)
#define IDC_DOWNLOAD_AT_START 1066
#define IDC_DOWNLOAD_INTERVAL 1067
#define IDC_ADD_AS_FAVORITE 1068
#define IDC_KEEP_EXISTING 1013
#define IDC_LIST_URL 1061
#define IDC_SHORT_LIVED 1120
#define IDC_REFRESH_SECONDS 1121

// Progress window (IDD_DOWNLOAD_PROGRESS)
#define IDC_DOWNLOAD_STATUS 1014

// ---- Run settings (run_settings.rc)

#define IDD_RUN_SETTINGS 140

#define IDC_ONLY_WITH_BROWSER 1054
#define IDC_AUTO_START 1058
#define IDC_TRAY_ICON 1059
#define IDC_DESKTOP_ICON 1060
#define IDC_EXIT_CHECK 1064
#define IDC_EXIT_FAILOVER 1065
#define IDC_ALL_THROUGH_RELAY 1100
#define IDC_SAME_SITE 1110
#define IDC_SAME_SITE_MINUTES 1111

// ---- Place filter (IDD_PLACE_FILTER, in relaymoth.rc)

#define IDD_PLACE_FILTER 143

#define IDC_PLACE_PROVINCES 1101
#define IDC_PLACE_CITIES 1102
#define IDC_PLACE_CARRIERS 1103
#define IDC_PLACE_EXCLUDE 1104
#define IDC_PLACE_MATCHING 1105
#define IDC_PLACE_CLEAR 1106

// The floating window's icon in the notification area (its uID)
#define ID_TRAY_ICON_UID 101

// Commands
#define IDM_SHOW_MAIN_DIALOG 32771
#define IDM_NO_PROXY 32772
#define IDM_MAKE_FAVORITE 32773
#define IDM_MAKE_GENERAL 32774
#define IDM_SORT_BY_RESULT 32775
#define IDM_QUIT 32776
#define IDM_VERIFY_ALL 32777
#define IDM_EXPORT_HOST_PORT 32778
#define IDM_EXPORT_FULL_LINE 32779
#define IDM_MAKE_RESERVED 32780
#define IDM_EXPORT_WITH_PASSWORDS 32795
#define IDM_ROTATE 32796
// The proxy menu's favorites, one command each (IDM_FAVORITE_FIRST + n for
// the n-th ticked row); IDM_FAVORITE_LAST holds no entry and goes direct.
#define IDM_FAVORITE_FIRST 1124
#define IDM_FAVORITE_LAST 1174
