// Resource identifiers of the list download's two dialogs (the download settings
// dialog and the progress window) and their strings, shared by
// download_dialogs.rc and the C++ sources. Plain #defines because windres reads
// this file too.
#pragma once

// Dialogs
#define IDD_DOWNLOAD_SETTINGS 133
#define IDD_DOWNLOAD_PROGRESS 134

// Strings
#define IDS_DOWNLOAD_FAILED 3
#define IDS_CONNECTING 5

// Download settings dialog (133)
#define IDC_DOWNLOAD_AT_START 1009
#define IDC_DOWNLOAD_INTERVAL 1011
#define IDC_ADD_AS_FAVORITE 1012
#define IDC_KEEP_EXISTING 1013
#define IDC_LIST_URL 1061

// Progress window (134)
#define IDC_DOWNLOAD_STATUS 1014
