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
