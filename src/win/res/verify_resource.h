// Resource identifiers of the verify settings dialog and the destination site
// editor, shared by verify_dialogs.rc and the C++ sources. Plain #defines
// because windres reads this file too.
#pragma once

// Dialogs
#define IDD_VERIFY_SETTINGS 137
#define IDD_SITE_EDITOR 139

// Verify settings dialog (137). Button 3 ("×") deletes the selected site.
#define IDC_DELETE_SITE 3
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

// Destination site editor (139)
#define IDC_SITE_URL 1050
#define IDC_SITE_USER 1051
#define IDC_SITE_PASSWORD 1052
#define IDC_SITE_VERIFY_STRING 1053
