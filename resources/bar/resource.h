// Resource and command ids of the toolbar library TVN Bar.dll.
#pragma once

// Bitmaps: the check-mark image, the menu image strip (one 14 x 14 image per item of
// IDR_MENU_ICONS), the toolbar button image (24 x 20, top-left pixel transparent).
#define IDB_CHECKMARK 201
#define IDB_MENU_ICONS 202
#define IDB_TOOLBAR 203

// Menus: the settings menu (one popup, the menu that is shown) and its icon table.
#define IDR_SETTINGS_MENU 204
#define IDR_MENU_ICONS 205

// Commands of the settings menu. Headings are grayed items that cannot be chosen.
#define ID_MENU_SIZEUNITS 32768
#define ID_MENU_AUTO 32774
#define ID_MENU_KBYTES 32777
#define ID_MENU_BYTES 32778
#define ID_MENU_MBYTES 32779
#define ID_MENU_GBYTES 32780
#define ID_MENU_VIEWSTYLE 32781
#define ID_MENU_FILESANDFOLDERS 32803
#define ID_MENU_FILESONLY 32804
#define ID_MENU_FOLDERSONLY 32805
#define ID_MENU_NOTHING 32806
#define ID_MENU_SEPARATOR_DOT 32808
#define ID_MENU_SEPARATOR_SPACE 32809
#define ID_MENU_SEPARATOR_COMMA 32811
#define ID_MENU_SEPARATOR_APOSTROPHE 32812
#define ID_MENU_SEPARATOR_QUOTE 32813
#define ID_MENU_DECIMALS_0 32814
#define ID_MENU_DECIMALS_1 32815
#define ID_MENU_DECIMALS_2 32816
#define ID_MENU_DECIMALS_3 32817
#define ID_MENU_DECIMALS_4 32818
#define ID_MENU_DECIMALS_5 32819
#define ID_MENU_SEPARATOR_NONE 32823
#define ID_MENU_TVNPROPERTIES 32827

// Images of the icon table without an item in the settings menu.
#define ID_MENU_RESETCACHE 205
