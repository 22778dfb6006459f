// Resource ids of the dialog-control tests.
#pragma once

#define IDD_COLOR_TEST 100
#define IDC_LABEL 101
#define IDC_OTHER_LABEL 102
#define IDC_CHECK 103
#define IDC_EDIT 104
#define IDC_EDIT_COMBO 105
#define IDC_LIST_COMBO 106
#define IDC_BUTTON 107

#define IDD_SHOWCASE 300
#define IDC_SHOW_TITLE 301
#define IDC_SHOW_CACHE 302
#define IDC_SHOW_UNITS_LABEL 303
#define IDC_SHOW_UNITS 304
#define IDC_SHOW_SITE_LABEL 305
#define IDC_SHOW_SITE 306
#define IDC_SHOW_SUPPORT_LABEL 307
#define IDC_SHOW_SUPPORT 308
