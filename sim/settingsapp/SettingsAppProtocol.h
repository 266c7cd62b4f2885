// The command line, exit codes and record format of the settings-application stand-in
// (ZentiaSim.exe). The stand-in and the test helpers that drive it both include this
// header, so neither side copies a value.
//
//   ZentiaSim.exe window   --record FILE [--ready EVENT] [--delay MS]
//       A top-level window titled "Zentia" that appends one line to FILE for every
//       WM_UWP_NOTIFY it receives, before the window procedure returns. --delay makes
//       each notice take MS milliseconds to handle (recorded after the delay).
//   ZentiaSim.exe hung     [--record FILE] [--ready EVENT] [--hang-after N]
//       As window, but the thread stops pumping messages for good once N notices have
//       been handled (N = 0: straight after the window exists).
//   ZentiaSim.exe notify   [--set KEY=VALUE]... [--wparam N] [--lparam N] [--no-lock]
//       Writes each KEY=VALUE in the given order, then UwpwParam and UwplParam (each only
//       when given), then opens "event_uwp" and signals it. Writes go through the shared
//       settings code under "mut_conf" unless --no-lock is given.
//   ZentiaSim.exe holdlock --hold MS [--ready EVENT]
//       Opens or creates "mut_conf", owns it for MS milliseconds, releases it and exits.
//       --ready is signalled once the mutex is owned.
//
// EVENT names an event that the caller has created; the stand-in opens it and signals it
// once it is ready (window created, or mutex owned).
#pragma once

#include <windows.h>

namespace settingsapp {

constexpr const wchar_t* kExeName = L"ZentiaSim.exe";

constexpr const wchar_t* kModeWindow = L"window";
constexpr const wchar_t* kModeHung = L"hung";
constexpr const wchar_t* kModeNotify = L"notify";
constexpr const wchar_t* kModeHoldLock = L"holdlock";

constexpr const wchar_t* kOptRecord = L"--record";
constexpr const wchar_t* kOptReady = L"--ready";
constexpr const wchar_t* kOptDelay = L"--delay";
constexpr const wchar_t* kOptHangAfter = L"--hang-after";
constexpr const wchar_t* kOptSet = L"--set";
constexpr const wchar_t* kOptWParam = L"--wparam";
constexpr const wchar_t* kOptLParam = L"--lparam";
constexpr const wchar_t* kOptNoLock = L"--no-lock";
constexpr const wchar_t* kOptHold = L"--hold";

// Exit codes.
constexpr DWORD kExitOk = 0;
constexpr DWORD kExitUsage = 2;           // unknown mode or option, bad number
constexpr DWORD kExitNoEvent = 3;         // notify: "event_uwp" does not exist
constexpr DWORD kExitSetEventFailed = 4;  // notify: the event could not be signalled
constexpr DWORD kExitNoSettingsPath = 5;  // notify: the settings path could not be built
constexpr DWORD kExitWindowFailed = 6;    // window/hung: class or window creation failed
constexpr DWORD kExitRecordFailed = 7;    // window/hung: the record file could not be opened
constexpr DWORD kExitReadyFailed = 8;     // the --ready event could not be opened
constexpr DWORD kExitLockFailed = 9;      // holdlock: "mut_conf" not created or not obtained

// One record line per WM_UWP_NOTIFY, in ASCII:
//   seq=<n> msg=<message> wParam=<unsigned> lParam=<signed> tick=<GetTickCount> flags=<InSendMessageEx>
// flags has ISMEX_SEND (1) when the notice came through SendMessage from another thread or
// process, and is 0 (ISMEX_NOSEND) for a posted message.
constexpr const char* kRecordFormat = "seq=%u msg=%u wParam=%I64u lParam=%I64d tick=%lu flags=%lu\r\n";

}  // namespace settingsapp
