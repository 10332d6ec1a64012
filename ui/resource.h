// Resource and control ids of the settings dialog, the about box, the format
// menu and the emblem. Read by the resource compiler and by C++ alike.
#pragma once

#define IDD_SETTINGS 5000
#define IDD_ABOUT 5002
#define IDB_ABOUT_EMBLEM 5004
#define IDR_FORMAT_MENU 5008

#define IDC_OK 5002
#define IDC_DEFAULTS 5003
#define IDC_ABOUT 5008
#define IDC_MOVE_LEFT 5082
#define IDC_MOVE_RIGHT 5083
#define IDC_MOVE_UP 5084
#define IDC_MOVE_DOWN 5085
#define IDC_SHADOW_EDIT 5091
#define IDC_SHADOW_SPIN 5092
#define IDC_TEXT_OPACITY_EDIT 5093
#define IDC_FONT_BUTTON 5094
#define IDC_TEXT_COLOR 5095
#define IDC_BACK_COLOR 5096
#define IDC_TEXT_OPACITY_SPIN 5097
#define IDC_BACK_OPACITY_EDIT 5099
#define IDC_BACK_OPACITY_SPIN 5100
#define IDC_CANCEL 5103
#define IDC_ALIGN_TOP_LEFT 5107
#define IDC_ALIGN_BOTTOM_LEFT 5108
#define IDC_ALIGN_TOP_RIGHT 5109
#define IDC_ALIGN_BOTTOM_RIGHT 5110
#define IDC_ALIGN_CENTER 5111
#define IDC_FORMAT_EDIT 5113
#define IDC_PREVIEW 5114
// Not in the template: made at run time below the buttons when the format
// is too long for the format field.
#define IDC_FORMAT_NOTICE 5115
