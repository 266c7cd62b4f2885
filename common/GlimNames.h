// The contracts between the service, the agent's main instance, its relays and the
// settings application: named kernel objects, window titles and classes, window messages,
// command words, and (through InstallLayout.h and SettingsValues.h) fixed paths and settings
// keys. Both programs and the stand-ins include this header; nobody copies a value out of it.
#pragma once

#include "InstallLayout.h"
#include "RuleTypes.h"
#include "SettingsValues.h"

namespace glim {

// Named kernel objects. No Global\ or Local\ prefix: each lives in its creator's session.
constexpr const wchar_t* kEventHotkey = L"event_hwap";
constexpr const wchar_t* kEventHostOsd = L"event_host_osd";
constexpr const wchar_t* kEventHostStatusChange = L"event_host_statuschange";
constexpr const wchar_t* kEventUwp = L"event_uwp";
constexpr const wchar_t* kMutexAgentMain = L"KBBackLightMainMutex";
constexpr const wchar_t* kMutexConf = L"mut_conf";
constexpr const wchar_t* kMutexLux = L"mut_lux";

// Windows that other processes look up by title (FindWindowW with no class); the agent's
// main window title is in InstallLayout.h.
constexpr const wchar_t* kAgentWindowClass = L"GLIMAGENT";
constexpr const wchar_t* kSettingsAppWindowTitle = L"Zentia";

// Window messages.
constexpr UINT WM_UWP_MESSAGE = WM_USER + 3000;  // 4024: settings notice, to the agent
constexpr UINT WM_UWP_NOTIFY = WM_USER + 3001;   // 4025: relay -> settings application
constexpr UINT WM_F12 = WM_APP + 2000;           // 34768: advance the status
constexpr UINT WM_OSD = WM_APP + 2001;           // 34769: show the OSD only
constexpr UINT WM_LUX = WM_APP + 2002;           // 34770: mean ambient lux
constexpr UINT WM_FULLSCREEN = WM_APP + 2003;    // 34771: full-screen verdict

// wParam of WM_UWP_NOTIFY: who changes the status.
constexpr WPARAM kNotifyAgentChangesStatus = 0;
constexpr WPARAM kNotifyServiceChangedStatus = 1;

// Agent command words, matched case-sensitively anywhere in the command line.
constexpr const wchar_t* kCmdOsd = L"cmd_service-2-osd";
constexpr const wchar_t* kCmdStatusChange = L"cmd_service-3-statuschange";

// The agent's debug log switch (the install layout and the settings file have headers of
// their own, included here).
constexpr const wchar_t* kAgentLogRegKey = L"Software\\Vessik\\Glimagent\\DbgLog";

// Fixed array sizes shared by both programs.
constexpr int kNameChars = 260;           // names, keys, paths
constexpr int kSettingStringChars = 255;  // settings strings are read into this many

}  // namespace glim
