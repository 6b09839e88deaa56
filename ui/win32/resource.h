// Resource identifiers shared by brindle.rc and the dialog's code.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUTBOX 100
#define IDS_ABOUT 101
#define IDD_BRINDLE_DIALOG 102
#define IDD_PROGRESS 103
#define IDD_RESULTS 104
#define IDR_MAINFRAME_ICON 128

#define IDC_FOLDER_LIST 1000
#define IDC_ADD_FOLDER 1001
#define IDC_DELETE_FOLDER 1002
#define IDC_PROXY_INDEX 1003
#define IDC_PAGED_INDEX 1004
#define IDC_OVERVIEW_INDEX 1005
#define IDC_INDEX_HINT 1006
#define IDC_TILESET_CHECK 1007
#define IDC_TILESET_FOLDER 1008
#define IDC_TILESET_BROWSE 1009
#define IDC_PROGRESS_TEXT 1010
#define IDC_PROGRESS_BAR 1011
#define IDC_REPORT_TEXT 1020
#define IDC_COPY_REPORT 1021
#define IDC_RESULTS_PICTURE 1022
#define IDC_RESULTS_CAPTION 1023

// The About entry in the system menu; system command ids keep their low four bits clear.
#define IDM_ABOUT 16
