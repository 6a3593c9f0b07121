// Resource identifiers of the run settings dialog, shared by run_settings.rc
// and the C++ sources. Plain #defines because windres reads this file too.
#pragma once

#define IDD_RUN_SETTINGS 140

#define IDC_ONLY_WITH_BROWSER 1054
#define IDC_AUTO_START 1058
#define IDC_TRAY_ICON 1059
#define IDC_DESKTOP_ICON 1060
#define IDC_EXIT_CHECK 1064
#define IDC_EXIT_FAILOVER 1065
