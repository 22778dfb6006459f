// Resource and command ids of the properties program TVN Properties.exe shared by its menu
// and artwork.
#pragma once

#define IDI_TOLVANE 128
#define IDB_BANNER 130
#define IDB_MENU_ICONS 131
#define IDC_HAND_LINK 132

// Menus: the Menu button's popup ("&Help") and its icon table.
#define IDR_MAIN_MENU 204
#define IDR_MENU_ICONS 205

#define ID_HELP_ABOUT 32777
#define ID_HELP_HELP 32778

// Dialogs.
#define IDD_PROPERTIES 129
#define IDD_ABOUT 209

// Controls of the properties dialog.
#define IDC_TITLE_SIZE_SECTION 1100
#define IDC_TITLE_BAR_SECTION 1101
#define IDC_TITLE_GLOBAL_SECTION 1102
#define IDC_COLUMN_TITLE 1103
#define IDC_VIEW_STYLE 1104
#define IDC_SIZE_UNITS 1105
#define IDC_DIGIT_GROUPING 1106
#define IDC_DECIMAL_DIGITS 1107
#define IDC_ENABLE_CACHE 1108
#define IDC_ENABLE_SPLASH 1109
#define IDC_RESET_CACHE 1110
#define IDC_START_WITH_WINDOWS 1111
#define IDC_ALWAYS_ON_TOP 1112
#define IDC_MENU_BUTTON 1113
#define IDC_BAR_STYLE 1114
#define IDC_BAR_SYMBOL 1115
#define IDC_CACHE_ALL 1116

// Controls of the about box.
#define IDC_ABOUT_WEB_LINK 1000
#define IDC_ABOUT_WEB_LABEL 1001
#define IDC_ABOUT_VERSION 1004
#define IDC_ABOUT_SUPPORT_LABEL 1005
#define IDC_ABOUT_SUPPORT_LINK 1006
#define IDC_ABOUT_ICON 1007
#define IDC_ABOUT_CONTACT_LABEL 1021
#define IDC_ABOUT_CONTACT_LINK 1022

// String table: the first string of each combo box's list (the list runs on consecutively).
#define IDS_VIEW_STYLE_FIRST 200
#define IDS_SIZE_UNITS_FIRST 210
#define IDS_DIGIT_GROUPING_FIRST 220
#define IDS_SEPARATOR_NONE 220
#define IDS_SEPARATOR_SPACE 221
#define IDS_DECIMAL_DIGITS_FIRST 230
#define IDS_BAR_STYLE_FIRST 240
#define IDS_BAR_SYMBOL_FIRST 250
