// Resource identifiers of Glimagent. The relay and the settings application rely on the
// main window's title (string 103); the OSD loads its images by these numbers.
#pragma once

// Strings
#define IDS_APP_TITLE 103  // main window title, by which relays find the main instance
#define IDC_GLIMAGENT 109  // string: main window class; also the menu and accelerator table

// Icon
#define IDI_GLIMAGENT 107

// Dialog and menu commands
#define IDD_ABOUTBOX 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#ifndef IDC_STATIC
#define IDC_STATIC -1
#endif

// OSD images, one per backlight status (files osd_off.bmp, osd_on.bmp, osd_auto.bmp)
#define IDB_OSD_OFF 133
#define IDB_OSD_ON 134
#define IDB_OSD_AUTO 136
