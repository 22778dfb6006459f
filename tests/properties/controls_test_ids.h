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
