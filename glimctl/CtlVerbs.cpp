#include "CtlVerbs.h"

#include "CtlSettings.h"
#include "Doctor.h"
#include "GlimNames.h"
#include "GlimVersion.h"
#include "ProgramFiles.h"
#include "ScopedHandle.h"

namespace glimctl {

namespace {

using glim::CScopedFile;
using glim::CScopedScHandle;

constexpr size_t kReportLogLines = 500;
// A log's tail is read from its last bytes: 500 lines of at most 260 characters fit.
constexpr LONGLONG kLogTailBytes = 2 * 1024 * 1024;

bool ServiceRuns()
{
    const CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const CScopedScHandle hService(hManager ? OpenServiceW(hManager.Get(), glim::kServiceName, SERVICE_QUERY_STATUS)
                                            : nullptr);
    SERVICE_STATUS status = {};
    return hService && QueryServiceStatus(hService.Get(), &status) && status.dwCurrentState == SERVICE_RUNNING;
}

std::wstring YesNo(bool b)
{
    return b ? L"yes" : L"no";
}

std::wstring JsonBool(bool b)
{
    return b ? L"true" : L"false";
}

std::wstring JsonString(const std::wstring& strText)
{
    return L"\"" + JsonEscape(strText) + L"\"";
}

std::wstring Signed(DWORD dw)
{
    return std::to_wstring(static_cast<int>(dw));
}

}  // namespace

bool CollectStatus(SStatus* pStatus, std::wstring* pstrError)
{
    {
        const CConfLock lock;
        if (!lock.Held()) {
            *pstrError = L"the settings are locked by another program (\"mut_conf\" held for more than 3 s): try again";
            return false;
        }
        pStatus->dwStatus = ReadSettingInt(glim::kKeyKBStatus, glim::kDefKBStatus);
        pStatus->dwBrightness = ReadSettingInt(glim::kKeyKBBrightness, glim::kDefKBBrightness);
        pStatus->dwCurrentBrightness = ReadSettingInt(glim::kKeyCurrentKBBrightness, glim::kDefCurrentKBBrightness);
        pStatus->strIdle = ReadSettingString(glim::kKeyInActiveTime);
        pStatus->dwFullScreen = ReadSettingInt(glim::kKeyFullScreen5sClose, glim::kDefFullScreen5sClose);
        pStatus->strTitles = ReadSettingString(glim::kKeyFullScreenScope);
        pStatus->dwDarknessLux = ReadSettingInt(glim::kKeyDarknessLux, glim::kDefDarknessLux);
        pStatus->dwDimIndoorsLux = ReadSettingInt(glim::kKeyDimIndoorsLux, glim::kDefDimIndoorsLux);
    }
    pStatus->bDeviceAnswers = ReadDeviceLevel(&pStatus->nDeviceLevel) == ERROR_SUCCESS;
    pStatus->bServiceRuns = ServiceRuns();
    pStatus->bAgentRuns = FindWindowW(nullptr, glim::kAgentWindowTitle) != nullptr;
    pStatus->dwPowerCapsError = ReadModernStandby(&pStatus->bModernStandby);
    return true;
}

std::wstring FormatStatus(const SStatus& s)
{
    const bool bPowerKnown = s.dwPowerCapsError == ERROR_SUCCESS;
    return L"status: " + StatusName(s.dwStatus) + L"\n" + L"on level: " + Signed(s.dwBrightness) + L"\n" +
        L"last level the device accepted: " + Signed(s.dwCurrentBrightness) + L"\n" + L"device reports: " +
        (s.bDeviceAnswers ? std::to_wstring(s.nDeviceLevel) : L"no answer") + L"\n" + L"idle time: " +
        (s.strIdle.empty()          ? L"off"
             : s.strIdle == L"なし" ? L"off (なし)"
                                    : s.strIdle) +
        L"\n" + L"full-screen rule: " + (s.dwFullScreen ? L"on" : L"off") + L"\n" + L"full-screen windows: " +
        s.strTitles + L"\n" + L"ambient thresholds: dark below " + Signed(s.dwDarknessLux) + L" lux, dim up to " +
        Signed(s.dwDimIndoorsLux) + L" lux\n" + L"service runs: " + YesNo(s.bServiceRuns) + L"\n" +
        L"agent main instance runs: " + YesNo(s.bAgentRuns) + L"\n" + L"Modern Standby: " +
        (bPowerKnown ? YesNo(s.bModernStandby) : L"unknown (" + ErrorText(s.dwPowerCapsError) + L")") + L"\n" +
        L"level restored: " + RestoreRuleText(bPowerKnown && s.bModernStandby) + L"\n";
}

std::wstring FormatStatusJson(const SStatus& s)
{
    const bool bPowerKnown = s.dwPowerCapsError == ERROR_SUCCESS;
    return L"{\"status\": " + JsonString(StatusName(s.dwStatus)) + L", \"statusValue\": " + Signed(s.dwStatus) +
        L", \"level\": " + Signed(s.dwBrightness) + L", \"currentLevel\": " + Signed(s.dwCurrentBrightness) +
        L", \"deviceLevel\": " + (s.bDeviceAnswers ? std::to_wstring(s.nDeviceLevel) : L"null") + L", \"idle\": " +
        JsonString(s.strIdle) + L", \"fullScreen\": " + JsonBool(s.dwFullScreen != 0) + L", \"fullScreenWindows\": " +
        JsonString(s.strTitles) + L", \"darknessLux\": " + Signed(s.dwDarknessLux) + L", \"dimIndoorsLux\": " +
        Signed(s.dwDimIndoorsLux) + L", \"serviceRuns\": " + JsonBool(s.bServiceRuns) + L", \"agentRuns\": " +
        JsonBool(s.bAgentRuns) + L", \"modernStandby\": " + (bPowerKnown ? JsonBool(s.bModernStandby) : L"null") +
        L", \"restoreRule\": " + JsonString(RestoreRuleText(bPowerKnown && s.bModernStandby)) + L"}\n";
}

int RunStatus(bool bJson, std::wstring* pstrOut)
{
    SStatus status;
    std::wstring strError;
    if (!CollectStatus(&status, &strError)) {
        *pstrOut = L"glimctl: " + strError + L"\n";
        return kExitFailed;
    }
    *pstrOut = bJson ? FormatStatusJson(status) : FormatStatus(status);
    return kExitDone;
}

int RunSet(const SCommand& command, std::wstring* pstrOut)
{
    SSetting setting;
    std::wstring strError;
    if (!ParseSetting(command.strName, command.strValue, command.bPreview, &setting, &strError)) {
        *pstrOut = L"glimctl: " + strError + L"\n" + UsageText(Verbs()) + L"\n";
        return kExitUsage;
    }
    if (WriteSetting(setting, &strError) != ERROR_SUCCESS) {
        *pstrOut = L"glimctl: " + strError + L"\n";
        return kExitFailed;
    }
    const std::wstring strDone = std::wstring(setting.pszKey) + L"=" + setting.strText;
    if (setting.nKind == kNoNotice) {
        *pstrOut = strDone + L" written; the agent reads it at its next start\n";
        return kExitDone;
    }
    const DWORD dwError = AnnounceChange();
    if (dwError == ERROR_FILE_NOT_FOUND) {
        *pstrOut = strDone +
            L" written; no agent main instance runs in this session, so it takes effect at the "
            L"agent's next start\n";
        return kExitDone;
    }
    if (dwError != ERROR_SUCCESS) {
        *pstrOut = L"glimctl: " + strDone + L" written, but the agent could not be told (" + ErrorText(dwError) +
            L"): it takes effect at the agent's next start\n";
        return kExitFailed;
    }
    *pstrOut = strDone + L" written; the agent applies it now\n";
    return kExitDone;
}

namespace {

// The tail of a UTF-16 log file (the agent's and the service's logs are both UTF-16LE).
std::wstring LogTail(const std::wstring& strPath, std::wstring* pstrNote)
{
    const CScopedFile hFile(CreateFileW(strPath.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    LARGE_INTEGER size = {};
    if (!hFile || !GetFileSizeEx(hFile.Get(), &size)) {
        *pstrNote = L"cannot be read (" + ErrorText(GetLastError()) + L")";
        return std::wstring();
    }
    // Start on an even offset: the file is whole UTF-16 code units from its first byte.
    LARGE_INTEGER start = {};
    start.QuadPart = size.QuadPart > kLogTailBytes ? (size.QuadPart - kLogTailBytes) & ~1LL : 0;
    SetFilePointerEx(hFile.Get(), start, nullptr, FILE_BEGIN);
    std::wstring strText(static_cast<size_t>((size.QuadPart - start.QuadPart) / 2), L'\0');
    DWORD cbRead = 0;
    if (!strText.empty() &&
        !ReadFile(hFile.Get(), &strText[0], static_cast<DWORD>(strText.size() * sizeof(wchar_t)), &cbRead, nullptr)) {
        *pstrNote = L"cannot be read (" + ErrorText(GetLastError()) + L")";
        return std::wstring();
    }
    strText.resize(cbRead / sizeof(wchar_t));
    if (!strText.empty() && strText[0] == L'\xFEFF')
        strText.erase(0, 1);
    return LastLines(strText, kReportLogLines);
}

std::wstring LogSection(const wchar_t* pszWhat, const std::wstring& strPath)
{
    std::wstring strNote;
    if (strPath.empty() || GetFileAttributesW(strPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return L"\n== " + std::wstring(pszWhat) + L": switched off\n";
    const std::wstring strTail = LogTail(strPath, &strNote);
    return L"\n== " + std::wstring(pszWhat) + L" " + strPath + L", last " + std::to_wstring(kReportLogLines) +
        L" lines\n" + (strNote.empty() ? strTail : strNote + L"\n");
}

std::wstring ServiceConfigSection()
{
    std::wstring strOut = L"\n== service configuration\n";
    const CScopedScHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const CScopedScHandle hService(
        hManager ? OpenServiceW(hManager.Get(), glim::kServiceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                 : nullptr);
    std::vector<BYTE> buffer(8192);
    auto* pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD cbNeeded = 0;
    if (!hService || !QueryServiceConfigW(hService.Get(), pConfig, static_cast<DWORD>(buffer.size()), &cbNeeded))
        return strOut + L"cannot be read (" + ErrorText(GetLastError()) + L")\n";
    SERVICE_STATUS status = {};
    QueryServiceStatus(hService.Get(), &status);
    return strOut + L"type: " + std::to_wstring(pConfig->dwServiceType) + L"\nstart type: " +
        std::to_wstring(pConfig->dwStartType) + L"\nimage path: " +
        (pConfig->lpBinaryPathName ? pConfig->lpBinaryPathName : L"") + L"\naccount: " +
        (pConfig->lpServiceStartName ? pConfig->lpServiceStartName : L"") + L"\nstate: " +
        std::to_wstring(status.dwCurrentState) + L"\n";
}

std::wstring ProgramsSection()
{
    std::wstring strOut = L"\n== programs\n";
    for (const std::wstring& strProgram : InstalledPrograms()) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!GetFileAttributesExW(strProgram.c_str(), GetFileExInfoStandard, &data)) {
            strOut += strProgram + L": missing\n";
            continue;
        }
        SYSTEMTIME st = {};
        FileTimeToSystemTime(&data.ftLastWriteTime, &st);
        wchar_t szTime[32] = {};
        swprintf(szTime, 32, L"%04u-%02u-%02u %02u:%02u UTC", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
        wchar_t szTrust[16] = {};
        swprintf(szTrust, 16, L"0x%08lX", static_cast<unsigned long>(VerifySignature(strProgram)));
        strOut += strProgram + L": version " + FileVersion(strProgram) + L", " + std::to_wstring(data.nFileSizeLow) +
            L" bytes, written " + szTime + L", WinVerifyTrust " + szTrust + L"\n";
    }
    return strOut;
}

DWORD WriteUtf16File(const std::wstring& strPath, const std::wstring& strText)
{
    const CScopedFile hFile(
        CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return GetLastError();
    const std::wstring strAll = L"\xFEFF" + strText;
    const DWORD cb = static_cast<DWORD>(strAll.size() * sizeof(wchar_t));
    DWORD cbWritten = 0;
    return WriteFile(hFile.Get(), strAll.data(), cb, &cbWritten, nullptr) && cbWritten == cb ? ERROR_SUCCESS
                                                                                             : GetLastError();
}

}  // namespace

int RunReport(const std::wstring& strFile, std::wstring* pstrOut)
{
    std::wstring strReport =
        L"Glimkit support report\n"
        L"This report adds no user or computer names of its own. The settings file and the logs below are copied as "
        L"they are and hold only what those files hold (paths and window titles may name a user).\n";
    SYSTEMTIME st = {};
    GetSystemTime(&st);
    wchar_t szTime[40] = {};
    swprintf(szTime, 40, L"made %04u-%02u-%02u %02u:%02u:%02u UTC\n", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
    strReport += szTime;
    const std::vector<SCheck> checks = RunDoctor();
    strReport += L"\n== doctor\n" + FormatChecks(checks);
    std::wstring strStatus;
    RunStatus(false, &strStatus);
    strReport += L"\n== status\n" + strStatus;
    std::string strBytes;
    DWORD dwError = ERROR_SUCCESS;
    strReport += L"\n== settings file " + SettingsFilePath() + L"\n";
    strReport += ReadFileBytes(SettingsFilePath(), &strBytes, &dwError)
        ? SettingsText(strBytes) + L"\n"
        : L"cannot be read (" + ErrorText(dwError) + L")\n";
    strReport += ServiceConfigSection();
    bool bAgentLog = false;
    const std::wstring strAgentLog = AgentLogPath(&bAgentLog);
    strReport += LogSection(L"agent log", bAgentLog ? strAgentLog : std::wstring());
    strReport += LogSection(L"service log", glim::kServiceLogPath);
    strReport += ProgramsSection();
    dwError = WriteUtf16File(strFile, strReport);
    if (dwError != ERROR_SUCCESS) {
        *pstrOut = L"glimctl: cannot write " + strFile + L" (" + ErrorText(dwError) + L")\n";
        return kExitFailed;
    }
    *pstrOut = L"report written to " + strFile + L"\n";
    return kExitDone;
}

const std::vector<SVerb>& Verbs()
{
    static const std::vector<SVerb> verbs = {
        {L"doctor", 0, true, nullptr,
         L"  doctor [--json]             Checks every installed piece and exits with the number of failures.\n",
         [](const SCommand& command, std::wstring* pstrOut) {
             const std::vector<SCheck> checks = RunDoctor();
             *pstrOut = command.bJson ? FormatChecksJson(checks) : FormatChecks(checks);
             return CountFailures(checks);
         },
         true},
        {L"status", 0, true, nullptr,
         L"  status [--json]             Shows the status, the levels, the options and whether both programs run.\n",
         [](const SCommand& command, std::wstring* pstrOut) { return RunStatus(command.bJson, pstrOut); }, true},
        {L"set", 2, false, L"level",
         L"  set status off|on|auto      Sets the backlight's status.\n"
         L"  set level 0-10 [--preview]  Sets the On level (--preview: the three-second preview in Auto).\n"
         L"  set idle 5m|30s|off         Switches the light off after this long without input.\n"
         L"  set fullscreen on|off       Switches the light off while a video plays full screen.\n"
         L"  set titles \"A;B\"            Names the windows, by title, in which full-screen video is watched for.\n",
         &RunSet, false},
        {L"report", 1, false, nullptr, L"  report FILE                 Writes one text file for a support case.\n",
         [](const SCommand& command, std::wstring* pstrOut) { return RunReport(command.strValue, pstrOut); }, false},
        {L"--version", 0, false, nullptr, L"  --version                   Prints the version.\n",
         [](const SCommand&, std::wstring* pstrOut) {
             *pstrOut = std::wstring(L"glimctl (Glimkit) ") + GLIM_VERSION_TEXT + L"\n";
             return kExitDone;
         },
         false},
    };
    return verbs;
}

}  // namespace glimctl
