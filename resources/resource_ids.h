// Identifiers of the plug-in's resources, shared by the resource script and the code.
#pragma once

#define IDI_VELMORA 1
#define IDD_VERSION 100
#define IDB_UNICODE_TOGGLE 107
#define IDS_UNICODE_TOGGLE 108
#define IDM_PANE_MENU 109
#define IDD_FIND 110
#define IDS_FIND_WRAPPED 111
#define IDS_FIND_NOT_FOUND 112

// Controls of the find box.
#define IDC_FIND_TEXT 1001
#define IDC_FIND_CASE 1002
#define IDC_FIND_NOTE 1003

// Entries of the pane's context menu.
#define IDM_PANE_COPY 32771
#define IDM_PANE_SELECT_ALL 32772
#define IDM_PANE_REPLY 32779
#define IDM_PANE_FORWARD 32780
#define IDM_PANE_MARKING 32781
#define IDM_PANE_SORTING 32783
#define IDM_PANE_TRASH 32784
#define IDM_PANE_ADDRESS_BOOK 32785
#define IDM_PANE_QUOTED_COPY 32788
