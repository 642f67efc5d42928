// Resource ids shared by the resource script and the program.
#pragma once

#define IDI_ORVANE 1
#define IDR_ICON_STRIP 101
#define IDD_EXCLUDED_FOLDERS 201

// Controls of the Excluded folders dialog.
#define IDC_EXCLUDED_NOTE 100
#define IDC_EXCLUDED_LIST 101
#define IDC_EXCLUDED_ADD 102
