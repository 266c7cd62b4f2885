#include "SettingsApp.h"

#include <share.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "GlimNames.h"
#include "ScopedHandle.h"
#include "ScreenProbe.h"
#include "Wait.h"
#include "settingsapp/SettingsAppProtocol.h"

namespace glimtest {

using namespace settingsapp;

namespace {

// A manual-reset event with a name of its own that the stand-in signals when ready.
class CReadyEvent {
public:
    CReadyEvent()
    {
        static LONG s_nCounter = 0;
        wchar_t szName[64] = {};
        _snwprintf(szName, 63, L"ZentiaSimReady-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&s_nCounter));
        m_strName = szName;
        m_hEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, szName));
    }

    glim::CScopedHandle m_hEvent;
    std::wstring m_strName;
};

std::wstring Arg(const wchar_t* pszOption, const std::wstring& strValue)
{
    return std::wstring(L" ") + pszOption + L" " + CChildProcess::QuoteArg(strValue);
}

std::wstring Arg(const wchar_t* pszOption, long long nValue)
{
    return Arg(pszOption, std::to_wstring(nValue));
}

// Reads "name=value" fields separated by spaces (the format of kRecordFormat). A line
// without all six fields is one still being written, or not a record.
bool ParseRecordLine(const char* pszLine, CNotifyRecord* pRec)
{
    int nFields = 0;
    const char* psz = pszLine;
    while (*psz) {
        const char* pszEq = strchr(psz, '=');
        if (!pszEq)
            break;
        const std::string strName(psz, pszEq);
        char* pszEnd = nullptr;
        unsigned long long ull = 0;
        long long ll = 0;
        if (strName == "lParam")
            ll = strtoll(pszEq + 1, &pszEnd, 10);
        else
            ull = strtoull(pszEq + 1, &pszEnd, 10);
        if (pszEnd == pszEq + 1)
            return false;
        if (strName == "seq")
            pRec->nSeq = static_cast<unsigned>(ull);
        else if (strName == "msg")
            pRec->uMsg = static_cast<UINT>(ull);
        else if (strName == "wParam")
            pRec->wParam = ull;
        else if (strName == "lParam")
            pRec->lParam = ll;
        else if (strName == "tick")
            pRec->dwTick = static_cast<DWORD>(ull);
        else if (strName == "flags")
            pRec->dwFlags = static_cast<DWORD>(ull);
        else
            return false;
        ++nFields;
        psz = pszEnd;
        while (*psz == ' ')
            ++psz;
    }
    return nFields == 6 && strchr(pszLine, '\n') != nullptr;
}

}  // namespace

HWND FindWindowTitled(DWORD dwProcessId, const wchar_t* pszTitle)
{
    if (dwProcessId == 0)
        return nullptr;
    return glimtest::FindWindowWhere(dwProcessId, [&](HWND hWnd) {
        wchar_t szTitle[256] = {};
        GetWindowTextW(hWnd, szTitle, 256);
        return wcscmp(szTitle, pszTitle) == 0;
    });
}

CNotifyRequest& CNotifyRequest::Set(const std::wstring& strKey, const std::wstring& strValue)
{
    vecKeys.emplace_back(strKey, strValue);
    return *this;
}

CNotifyRequest& CNotifyRequest::Params(int nW, int nL)
{
    bWParam = bLParam = true;
    nWParam = nW;
    nLParam = nL;
    return *this;
}

CSettingsApp::CSettingsApp()
{
    wchar_t szTemp[MAX_PATH] = {};
    wchar_t szFile[MAX_PATH] = {};
    // A fresh, empty record file of this stand-in's own.
    if (GetTempPathW(MAX_PATH, szTemp) && GetTempFileNameW(szTemp, L"zen", 0, szFile))
        m_strRecord = szFile;
}

CSettingsApp::~CSettingsApp()
{
    Stop();
    if (!m_strRecord.empty())
        DeleteFileW(m_strRecord.c_str());
}

std::wstring CSettingsApp::ExePath()
{
    return CChildProcess::ModuleDir() + kExeName;
}

DWORD CSettingsApp::StartWindow(DWORD dwDelayMs, DWORD dwTimeoutMs)
{
    return StartAndWait(std::wstring(kModeWindow) + Arg(kOptRecord, m_strRecord) + Arg(kOptDelay, dwDelayMs), true,
                        dwTimeoutMs);
}

DWORD CSettingsApp::StartHung(DWORD dwHangAfter, DWORD dwTimeoutMs)
{
    return StartAndWait(std::wstring(kModeHung) + Arg(kOptRecord, m_strRecord) + Arg(kOptHangAfter, dwHangAfter), true,
                        dwTimeoutMs);
}

DWORD CSettingsApp::StartHoldLock(DWORD dwHoldMs, DWORD dwTimeoutMs)
{
    return StartAndWait(std::wstring(kModeHoldLock) + Arg(kOptHold, dwHoldMs), false, dwTimeoutMs);
}

DWORD CSettingsApp::StartAndWait(const std::wstring& strArgs, bool bWantWindow, DWORD dwTimeoutMs)
{
    Stop();
    CReadyEvent ready;
    if (!ready.m_hEvent)
        return GetLastError();
    const DWORD dwError = m_process.Start(ExePath(), strArgs + Arg(kOptReady, ready.m_strName));
    if (dwError)
        return dwError;
    const HANDLE handles[2] = {ready.m_hEvent.Get(), m_process.Handle()};
    switch (WaitForMultipleObjects(2, handles, FALSE, dwTimeoutMs)) {
    case WAIT_OBJECT_0: break;
    case WAIT_OBJECT_0 + 1: return ERROR_PROCESS_ABORTED;
    default: return ERROR_TIMEOUT;
    }
    if (bWantWindow) {
        // The window exists before the event is signalled.
        m_hWnd = FindWindowTitled(m_process.Id(), glim::kSettingsAppWindowTitle);
        if (!m_hWnd)
            return ERROR_INVALID_WINDOW_HANDLE;
    }
    return ERROR_SUCCESS;
}

DWORD CSettingsApp::RunNotify(const CNotifyRequest& request, DWORD* pdwExitCode, DWORD dwTimeoutMs)
{
    std::wstring strArgs = kModeNotify;
    for (const auto& kv : request.vecKeys)
        strArgs += Arg(kOptSet, kv.first + L"=" + kv.second);
    if (request.bWParam)
        strArgs += Arg(kOptWParam, request.nWParam);
    if (request.bLParam)
        strArgs += Arg(kOptLParam, request.nLParam);
    if (request.bNoLock)
        strArgs += std::wstring(L" ") + kOptNoLock;
    CChildProcess process;
    const DWORD dwError = process.Start(ExePath(), strArgs);
    if (dwError)
        return dwError;
    return process.WaitExit(dwTimeoutMs, pdwExitCode) ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

DWORD CSettingsApp::ExitCode() const
{
    DWORD dwExitCode = STILL_ACTIVE;
    m_process.WaitExit(0, &dwExitCode);
    return dwExitCode;
}

void CSettingsApp::Stop()
{
    m_process.Terminate();
    m_hWnd = nullptr;
}

std::vector<CNotifyRecord> CSettingsApp::ReadRecord() const
{
    std::vector<CNotifyRecord> vecRecords;
    FILE* pFile = _wfsopen(m_strRecord.c_str(), L"rb", _SH_DENYNO);
    if (!pFile)
        return vecRecords;
    char szLine[512];
    while (fgets(szLine, sizeof(szLine), pFile)) {
        CNotifyRecord rec;
        if (ParseRecordLine(szLine, &rec))
            vecRecords.push_back(rec);
    }
    fclose(pFile);
    return vecRecords;
}

bool CSettingsApp::WaitForRecords(size_t nCount, DWORD dwTimeoutMs) const
{
    return WaitUntil([&] { return ReadRecord().size() >= nCount; }, dwTimeoutMs);
}

}  // namespace glimtest
