// Identifiers of the module's resources and of the controls in its dialogs.
// Shared by granulix.rc and the C++ sources; plain #defines only, so that the
// resource compiler can read it too.
#pragma once

// Dialog templates
#define IDD_ABOUT                100
#define IDD_SETUP                129

// Bitmaps
#define IDB_BANNER               144

// Strings
#define IDS_PROPERTY_SHEET       102
#define IDS_TIP_LOAD             1054
#define IDS_TIP_SAVE             1055
#define IDS_TIP_OK               1056
#define IDS_TIP_CANCEL           1057
#define IDS_TIP_HELP             1058
#define IDS_TIP_ABOUT            1059

// Controls of the setup dialog (OK and Cancel are IDOK and IDCANCEL)
#define IDC_TIMELINE             1001
#define IDC_PREVIEW_BOX          1013
#define IDC_LOAD                 1054
#define IDC_SAVE                 1055
#define IDC_TIME_LABEL           1078
#define IDC_BANNER               1081

// The standard Help command; the setup dialog's Help button sends it.
#define ID_HELP_COMMAND          57670
