// The contracts between the service, the agent's main instance, its relays and the
// settings application: named kernel objects, window titles and classes, window messages,
// command words, fixed paths and settings keys. Both programs and the stand-ins include
// this header; nobody copies a value out of it.
#pragma once

#include "RuleTypes.h"

namespace glim {

// Named kernel objects. No Global\ or Local\ prefix: each lives in its creator's session.
constexpr const wchar_t* kEventHotkey = L"event_hwap";
constexpr const wchar_t* kEventHostOsd = L"event_host_osd";
constexpr const wchar_t* kEventHostStatusChange = L"event_host_statuschange";
constexpr const wchar_t* kEventUwp = L"event_uwp";
constexpr const wchar_t* kMutexAgentMain = L"KBBackLightMainMutex";
constexpr const wchar_t* kMutexConf = L"mut_conf";
constexpr const wchar_t* kMutexLux = L"mut_lux";

// The service's name; also the name of the mutex that marks a running service process.
constexpr const wchar_t* kServiceName = L"Glimward";

// Windows that other processes look up by title (FindWindowW with no class).
constexpr const wchar_t* kAgentWindowTitle = L"BACKLIGHT0314FE0E-6416-4CB9-9698-F1C731E00A25";
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

// Fixed locations.
constexpr const wchar_t* kAgentProgramPath = L"C:\\Program Files (x86)\\Vessik\\Glimkit\\Glimagent.exe";
constexpr const wchar_t* kServiceLogPath = L"C:\\ProgramData\\Vessik\\Glimkit\\Service.log";
constexpr const wchar_t* kSettingsRelativePath = L"Vessik\\Glimkit\\Glimkit.ini";
constexpr const wchar_t* kSettingsEnvVar = L"ALLUSERSPROFILE";
constexpr const wchar_t* kAgentLogRegKey = L"Software\\Vessik\\Glimagent\\DbgLog";

// The settings file: one section, these keys (spelling included).
constexpr const wchar_t* kSettingsSection = L"Glimkit";
constexpr const wchar_t* kKeyKBStatus = L"KBStatus";
constexpr const wchar_t* kKeyKBBrightness = L"KBBrightness";
constexpr const wchar_t* kKeyCurrentKBBrightness = L"CurrentKBBrightness";
constexpr const wchar_t* kKeyInActiveTime = L"InActiveTime";
constexpr const wchar_t* kKeyFullScreen5sClose = L"FullScreen5sClose";
constexpr const wchar_t* kKeyFullScreenScope = L"InFullScreenScopeWindowName";
constexpr const wchar_t* kKeyDarknessLux = L"DarknessLux";
constexpr const wchar_t* kKeyDimIndoorsLux = L"DimIndoorsLux";
constexpr const wchar_t* kKeyAmbientChangeTime = L"AmbientStautsChangeTime";
constexpr const wchar_t* kKeyUwpwParam = L"UwpwParam";
constexpr const wchar_t* kKeyUwplParam = L"UwplParam";
constexpr const wchar_t* kKeyUndefine = L"Undefine";

// Key defaults, as every reader passes them.
constexpr DWORD kDefKBStatus = 0;
constexpr DWORD kDefKBBrightness = 10;
constexpr DWORD kDefCurrentKBBrightness = 0;
constexpr DWORD kDefFullScreen5sClose = 0;
constexpr DWORD kDefDarknessLux = 5;
constexpr DWORD kDefDimIndoorsLux = 60;
constexpr DWORD kDefAmbientChangeTime = 500;
constexpr DWORD kDefUwpwParam = static_cast<DWORD>(-1);
constexpr DWORD kDefUwplParam = 0;

// Backlight statuses (KBStatus).
constexpr DWORD kStatusOff = 0;
constexpr DWORD kStatusOn = 1;
constexpr DWORD kStatusAuto = 2;
constexpr DWORD kStatusInvalid = 0xFFFFFFFF;

// Fixed array sizes shared by both programs.
constexpr int kNameChars = 260;          // names, keys, paths
constexpr int kSettingStringChars = 255; // settings strings are read into this many

}  // namespace glim
