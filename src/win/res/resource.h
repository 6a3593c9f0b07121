// Resource identifiers shared by relaymoth.rc and the C++ sources. Plain #defines
// because windres reads this file too.
#pragma once

// Icons
#define IDI_MAIN 128

// Strings
#define IDS_APP_TITLE 1000
