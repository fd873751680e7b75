// Identifiers of the module's resources and of the controls in its dialogs.
// Shared by granulix.rc and the C++ sources; plain #defines only, so that the
// resource compiler can read it too.
#pragma once

// Dialog templates
#define IDD_ABOUT                100
#define IDD_MOVEMENT             103
#define IDD_NATURE               104
#define IDD_LIFE                 105
#define IDD_SOURCES              106
#define IDD_SETUP                129

// Bitmaps
#define IDB_DIRECTION            134
#define IDB_BANNER               144
#define IDB_TIMELINE             149

// Strings
#define IDS_PROPERTY_SHEET       102
#define IDS_TIP_VARIANCE         1017
#define IDS_TIP_SPEED_NOISE      1018
#define IDS_TIP_XY_BALANCE       1019
#define IDS_TIP_CENTER_X         1020
#define IDS_TIP_CENTER_Y         1021
#define IDS_TIP_MINIMUM_SPEED    1022
#define IDS_TIP_TIMELINE         1023
#define IDS_TIP_GRAVITY          1024
#define IDS_TIP_WIND             1025
#define IDS_TIP_DELAY            1026
#define IDS_TIP_DELAY_NOISE      1027
#define IDS_TIP_LEFT_RIGHT       1028
#define IDS_TIP_RIGHT_LEFT       1029
#define IDS_TIP_UP_DOWN          1030
#define IDS_TIP_DOWN_UP          1031
#define IDS_TIP_MINIMUM_LIFE     1032
#define IDS_TIP_MAXIMUM_LIFE     1033
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

// Controls of the parameter pages. Ids are unique within a page only (1004
// is an edit on Movement and a slider on Nature), so each page has its own.

// Movement (IDD_MOVEMENT)
#define IDC_MOVEMENT_CELL_WIDTH       1004
#define IDC_MOVEMENT_NOISE            1005
#define IDC_MOVEMENT_CELL_HEIGHT      1006
#define IDC_MOVEMENT_CELL_WIDTH_SPIN  1008
#define IDC_MOVEMENT_CELL_HEIGHT_SPIN 1009
#define IDC_MOVEMENT_BANDS            1010
#define IDC_MOVEMENT_VARIANCE         1017
#define IDC_MOVEMENT_XY_BALANCE       1018
#define IDC_MOVEMENT_CENTER_X         1019
#define IDC_MOVEMENT_CENTER_Y         1020
#define IDC_MOVEMENT_PRESET_Y         1066
#define IDC_MOVEMENT_PRESET_V         1067
#define IDC_MOVEMENT_PRESET_N         1068
#define IDC_MOVEMENT_PRESET_C         1069
#define IDC_MOVEMENT_PRESET_X         1070

// Nature (IDD_NATURE)
#define IDC_NATURE_GRAVITY            1004
#define IDC_NATURE_WIND               1021
#define IDC_NATURE_CLIP2              1049
#define IDC_NATURE_MINIMUM            1056
#define IDC_NATURE_TIMELINE           1058
#define IDC_NATURE_PRESET_M           1071
#define IDC_NATURE_PRESET_TIMELINE_G  1072
#define IDC_NATURE_PRESET_GRAVITY_G   1073
#define IDC_NATURE_PRESET_W           1074
#define IDC_NATURE_CLIP1              1075

// Life (IDD_LIFE)
#define IDC_LIFE_LEFT_RIGHT           1011
#define IDC_LIFE_RIGHT_LEFT           1012
#define IDC_LIFE_UP_DOWN              1016
#define IDC_LIFE_NOISE                1022
#define IDC_LIFE_DELAY                1023
#define IDC_LIFE_MINIMUM              1024
#define IDC_LIFE_MAXIMUM              1025
#define IDC_LIFE_DOWN_UP              1027
#define IDC_LIFE_PRESET_D             1062
#define IDC_LIFE_PRESET_N             1063
#define IDC_LIFE_PRESET_M             1064
#define IDC_LIFE_PRESET_L             1065

// Sources (IDD_SOURCES)
#define IDC_SOURCES_PARAMETER_SPIN    1007
#define IDC_SOURCES_KIND_SPIN         1008
#define IDC_SOURCES_REPEAT_X_SPIN     1009
#define IDC_SOURCES_PARAMETER_NAME    1039
#define IDC_SOURCES_KIND_NAME         1040
#define IDC_SOURCES_REPEAT_X          1041
#define IDC_SOURCES_INVERT            1042
#define IDC_SOURCES_MAP_BOX           1043
#define IDC_SOURCES_LEGEND            1044
#define IDC_SOURCES_PARAMETER_BOX     1045
#define IDC_SOURCES_KIND_BOX          1046
#define IDC_SOURCES_REPEAT_BOX        1047
#define IDC_SOURCES_REPEAT_Y_SPIN     1048
#define IDC_SOURCES_ODD_Y             1049
#define IDC_SOURCES_ODD_X             1050
#define IDC_SOURCES_REPEAT_Y          1051

// The standard Help command; the setup dialog's Help button sends it.
#define ID_HELP_COMMAND          57670
