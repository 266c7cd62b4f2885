// Resource identifiers of Glimagent.exe.
#pragma once

#define IDS_APP_TITLE 103
#define IDD_ABOUTBOX 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDI_GLIMAGENT 107
#define IDC_GLIMAGENT 109
#define IDB_OSD_OFF 133
#define IDB_OSD_ON 134
#define IDB_OSD_AUTO 136
