// Stand-in for the settings application: its "Zentia" window that relays notify, the
// settings writes and "event_uwp" signal that announce a change, and two misbehaviours
// (a hung window, a long holder of "mut_conf") for tests. Usage: SettingsAppProtocol.h.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "GlimLog.h"
#include "GlimNames.h"
#include "SettingsFile.h"
#include "settingsapp/SettingsAppProtocol.h"

using namespace settingsapp;

// The shared settings code logs through this call; the stand-in keeps no log.
void GlimLog(char, const wchar_t*, int, const wchar_t*, ...)
{
}

namespace {

struct CArgs {
    std::wstring strMode;
    std::wstring strRecord;
    std::wstring strReady;
    DWORD dwDelayMs = 0;
    DWORD dwHangAfter = 0;
    DWORD dwHoldMs = 0;
    std::vector<std::pair<std::wstring, std::wstring>> vecSet;
    bool bHasWParam = false;
    bool bHasLParam = false;
    int nWParam = 0;
    int nLParam = 0;
    bool bNoLock = false;
};

bool ParseLong(const wchar_t* psz, long* pnValue)
{
    wchar_t* pszEnd = nullptr;
    const long n = wcstol(psz, &pszEnd, 0);
    if (!*psz || *pszEnd)
        return false;
    *pnValue = n;
    return true;
}

bool ParseArgs(int argc, wchar_t** argv, CArgs* pArgs)
{
    if (argc < 2)
        return false;
    pArgs->strMode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::wstring strOpt = argv[i];
        if (strOpt == kOptNoLock) {
            pArgs->bNoLock = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const wchar_t* pszValue = argv[++i];
        long n = 0;
        if (strOpt == kOptRecord) {
            pArgs->strRecord = pszValue;
        } else if (strOpt == kOptReady) {
            pArgs->strReady = pszValue;
        } else if (strOpt == kOptSet) {
            const wchar_t* pszEq = wcschr(pszValue, L'=');
            if (!pszEq || pszEq == pszValue)
                return false;
            pArgs->vecSet.emplace_back(std::wstring(pszValue, pszEq), std::wstring(pszEq + 1));
        } else if (!ParseLong(pszValue, &n)) {
            return false;
        } else if (strOpt == kOptDelay) {
            pArgs->dwDelayMs = static_cast<DWORD>(n);
        } else if (strOpt == kOptHangAfter) {
            pArgs->dwHangAfter = static_cast<DWORD>(n);
        } else if (strOpt == kOptHold) {
            pArgs->dwHoldMs = static_cast<DWORD>(n);
        } else if (strOpt == kOptWParam) {
            pArgs->bHasWParam = true;
            pArgs->nWParam = static_cast<int>(n);
        } else if (strOpt == kOptLParam) {
            pArgs->bHasLParam = true;
            pArgs->nLParam = static_cast<int>(n);
        } else {
            return false;
        }
    }
    return true;
}

// Signals the caller's ready event, when one was named.
bool SignalReady(const std::wstring& strReady)
{
    if (strReady.empty())
        return true;
    HANDLE hEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, strReady.c_str());
    if (!hEvent)
        return false;
    const BOOL bOk = SetEvent(hEvent);
    CloseHandle(hEvent);
    return bOk != FALSE;
}

// ---- window and hung modes ------------------------------------------------------------

HANDLE g_hRecord = INVALID_HANDLE_VALUE;
DWORD g_dwDelayMs = 0;
DWORD g_dwHandled = 0;
bool g_bHung = false;
DWORD g_dwHangAfter = 0;

void AppendRecord(UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD dwTick, DWORD dwFlags)
{
    if (g_hRecord == INVALID_HANDLE_VALUE)
        return;
    char szLine[256] = {};
    const int cch = _snprintf(szLine, sizeof(szLine) - 1, kRecordFormat, static_cast<unsigned>(g_dwHandled + 1), uMsg,
                              static_cast<unsigned long long>(wParam), static_cast<long long>(lParam),
                              static_cast<unsigned long>(dwTick), static_cast<unsigned long>(dwFlags));
    if (cch <= 0)
        return;
    // One WriteFile per line on an append handle: a reader in another process sees whole
    // lines as soon as the call returns.
    DWORD cbWritten = 0;
    WriteFile(g_hRecord, szLine, static_cast<DWORD>(cch), &cbWritten, nullptr);
    FlushFileBuffers(g_hRecord);
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == glim::WM_UWP_NOTIFY) {
        const DWORD dwTick = GetTickCount();
        const DWORD dwFlags = InSendMessageEx(nullptr);
        if (g_dwDelayMs)
            Sleep(g_dwDelayMs);
        AppendRecord(uMsg, wParam, lParam, dwTick, dwFlags);
        ++g_dwHandled;
        if (g_bHung && g_dwHandled >= g_dwHangAfter) {
            // Sent notices are handled inside GetMessageW, so the loop never sees them:
            // answer this one, then never look at the queue again.
            ReplyMessage(0);
            Sleep(INFINITE);
        }
        return 0;
    }
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

DWORD RunWindow(const CArgs& args, bool bHung)
{
    if (!args.strRecord.empty()) {
        g_hRecord = CreateFileW(args.strRecord.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g_hRecord == INVALID_HANDLE_VALUE)
            return kExitRecordFailed;
    } else if (!bHung) {
        return kExitUsage;
    }
    g_dwDelayMs = args.dwDelayMs;

    HINSTANCE hInstance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = L"ZentiaSimWindow";
    if (!RegisterClassExW(&wc))
        return kExitWindowFailed;
    // Never shown: the relays find it by title, which does not need it visible.
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, glim::kSettingsAppWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 320, 200, nullptr, nullptr, hInstance, nullptr);
    if (!hWnd)
        return kExitWindowFailed;
    if (!SignalReady(args.strReady))
        return kExitReadyFailed;

    // A hung settings application: the thread no longer looks at its queue, so senders
    // wait (or time out) and the window reads as not responding.
    g_bHung = bHung;
    g_dwHangAfter = args.dwHangAfter;
    if (g_bHung && g_dwHangAfter == 0)
        Sleep(INFINITE);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return kExitOk;
}

// ---- notify mode --------------------------------------------------------------------

// Writes one key as the settings application does: under "mut_conf" through the shared
// settings code, or with a bare private-profile call when the lock is not wanted.
void WriteKey(const std::wstring& strKey, const std::wstring& strValue, bool bNoLock)
{
    CSettingsFile* pSettings = CSettingsFile::GetInstance();
    if (bNoLock)
        WritePrivateProfileStringW(glim::kSettingsSection, strKey.c_str(), strValue.c_str(), pSettings->GetPath());
    else
        pSettings->WriteString(strKey.c_str(), strValue.c_str());
}

DWORD RunNotify(const CArgs& args)
{
    if (!CSettingsFile::GetInstance()->BuildPath())
        return kExitNoSettingsPath;
    for (const auto& kv : args.vecSet)
        WriteKey(kv.first, kv.second, args.bNoLock);
    if (args.bHasWParam)
        WriteKey(glim::kKeyUwpwParam, std::to_wstring(args.nWParam), args.bNoLock);
    if (args.bHasLParam)
        WriteKey(glim::kKeyUwplParam, std::to_wstring(args.nLParam), args.bNoLock);

    // The agent creates the event; a signal nobody listens for would be lost, so the
    // stand-in only opens it and reports its absence.
    HANDLE hEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, glim::kEventUwp);
    if (!hEvent)
        return kExitNoEvent;
    const BOOL bOk = SetEvent(hEvent);
    CloseHandle(hEvent);
    return bOk ? kExitOk : kExitSetEventFailed;
}

// ---- holdlock mode ------------------------------------------------------------------

DWORD RunHoldLock(const CArgs& args)
{
    CMyMutex mutex(glim::kMutexConf);
    if (!mutex.m_hMutex)
        return kExitLockFailed;
    const DWORD dwWait = WaitForSingleObject(mutex.m_hMutex.Get(), 30000);
    if (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_ABANDONED)
        return kExitLockFailed;
    if (!SignalReady(args.strReady)) {
        ReleaseMutex(mutex.m_hMutex.Get());
        return kExitReadyFailed;
    }
    Sleep(args.dwHoldMs);
    ReleaseMutex(mutex.m_hMutex.Get());
    return kExitOk;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    CArgs args;
    if (!ParseArgs(__argc, __wargv, &args))
        return kExitUsage;
    if (args.strMode == kModeWindow)
        return static_cast<int>(RunWindow(args, false));
    if (args.strMode == kModeHung)
        return static_cast<int>(RunWindow(args, true));
    if (args.strMode == kModeNotify)
        return static_cast<int>(RunNotify(args));
    if (args.strMode == kModeHoldLock)
        return static_cast<int>(RunHoldLock(args));
    return kExitUsage;
}
