// Drives the settings-application stand-in (ZentiaSim.exe, built beside the tests) from a
// test: start it in one of its modes and wait until it is ready, find its "Zentia"
// window, read what that window has recorded, and end it. The destructor kills a stand-in
// that still runs and deletes its record file, so every test path cleans up.
//
//   CSettingsApp app;
//   ASSERT_EQ(0u, app.StartWindow());
//   ... something sends WM_UWP_NOTIFY to FindWindowW(nullptr, L"Zentia") ...
//   ASSERT_TRUE(app.WaitForRecords(1, 5000));
//   EXPECT_EQ(1u, app.ReadRecord()[0].wParam);
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "ChildProcess.h"

namespace glimtest {

// One WM_UWP_NOTIFY as the stand-in recorded it.
struct CNotifyRecord {
    unsigned nSeq = 0;  // 1 for the first notice of this stand-in
    UINT uMsg = 0;      // always WM_UWP_NOTIFY
    unsigned long long wParam = 0;
    long long lParam = 0;
    DWORD dwTick = 0;   // GetTickCount when the notice arrived
    DWORD dwFlags = 0;  // InSendMessageEx: ISMEX_SEND for a sent notice
};

// What notify mode writes before it signals "event_uwp".
struct CNotifyRequest {
    std::vector<std::pair<std::wstring, std::wstring>> vecKeys;  // written first, in order
    bool bWParam = false;                                        // write UwpwParam = nWParam
    int nWParam = 0;
    bool bLParam = false;  // write UwplParam = nLParam
    int nLParam = 0;
    bool bNoLock = false;  // write without taking "mut_conf"

    CNotifyRequest& Set(const std::wstring& strKey, const std::wstring& strValue);
    CNotifyRequest& Params(int nW, int nL);
};

class CSettingsApp {
public:
    static constexpr DWORD kStartTimeoutMs = 10000;

    CSettingsApp();
    virtual ~CSettingsApp();
    CSettingsApp(const CSettingsApp&) = delete;
    CSettingsApp& operator=(const CSettingsApp&) = delete;

    // Full path of ZentiaSim.exe beside the running test executable.
    static std::wstring ExePath();

    // Each Start* returns 0 once the stand-in is ready, or a Win32 error: the error of
    // CreateProcessW, ERROR_TIMEOUT when it was not ready in time, ERROR_PROCESS_ABORTED
    // when it exited early (ExitCode() tells why, see SettingsAppProtocol.h).

    // The "Zentia" window, recording notices; each takes dwDelayMs to handle.
    DWORD StartWindow(DWORD dwDelayMs = 0, DWORD dwTimeoutMs = kStartTimeoutMs);
    // The "Zentia" window, which stops pumping messages once dwHangAfter notices were
    // handled (0: at once).
    DWORD StartHung(DWORD dwHangAfter = 0, DWORD dwTimeoutMs = kStartTimeoutMs);
    // A process that owns "mut_conf" for dwHoldMs, then releases it and exits.
    DWORD StartHoldLock(DWORD dwHoldMs, DWORD dwTimeoutMs = kStartTimeoutMs);

    // Runs notify mode to its end. Returns 0 when it ran and ended within dwTimeoutMs
    // (its exit code in *pdwExitCode), or a Win32 error (ERROR_TIMEOUT: it was killed).
    static DWORD RunNotify(const CNotifyRequest& request, DWORD* pdwExitCode, DWORD dwTimeoutMs = kStartTimeoutMs);

    // The stand-in's window (window and hung modes), NULL otherwise.
    HWND Window() const { return m_hWnd; }
    CChildProcess& Process() { return m_process; }
    // The exit code after an early exit, or STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    // Kills the stand-in (when it runs) and waits for it.
    void Stop();

    // Every notice recorded so far, in order of arrival.
    std::vector<CNotifyRecord> ReadRecord() const;
    // True once at least nCount notices are on record, false after dwTimeoutMs.
    bool WaitForRecords(size_t nCount, DWORD dwTimeoutMs) const;
    const std::wstring& RecordPath() const { return m_strRecord; }

private:
    DWORD StartAndWait(const std::wstring& strArgs, bool bWantWindow, DWORD dwTimeoutMs);

    CChildProcess m_process;
    std::wstring m_strRecord;
    HWND m_hWnd = nullptr;
};

// Finds the top-level window of process dwProcessId with exactly this title (hidden
// windows included); NULL when there is none.
HWND FindWindowTitled(DWORD dwProcessId, const wchar_t* pszTitle);

}  // namespace glimtest
