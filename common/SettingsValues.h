// The shared settings file: where it is, its one section, its keys (spelling included), the
// default every reader passes for each, and the backlight statuses KBStatus holds. Read by
// the programs, glimctl, the setup helper and the tests, and generated into the installers'
// sources at configure time (cmake/Layout.cmake): one constant per line.
#pragma once

#include "ConstexprPath.h"
#include "InstallLayout.h"
#include "RuleTypes.h"

namespace glim {

// %ALLUSERSPROFILE%\Vessik\Glimkit\Glimkit.ini
constexpr const wchar_t* kSettingsEnvVar = L"ALLUSERSPROFILE";
constexpr const wchar_t* kSettingsFileName = L"Glimkit.ini";
constexpr const wchar_t* kSettingsRelativePath = L"Vessik\\Glimkit\\Glimkit.ini";
static_assert(IsPathJoin(kSettingsRelativePath, kDataFolderRelative, kSettingsFileName), "settings path");

// The one section and its keys.
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
constexpr DWORD kDefUwpwParam = 0xFFFFFFFF;
constexpr DWORD kDefUwplParam = 0;

// Backlight statuses (KBStatus).
constexpr DWORD kStatusOff = 0;
constexpr DWORD kStatusOn = 1;
constexpr DWORD kStatusAuto = 2;
constexpr DWORD kStatusInvalid = 0xFFFFFFFF;

}  // namespace glim
