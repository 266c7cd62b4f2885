// glimsim: drives the simulated keyboard-controller filter driver for the demo and for
// scripts. Each command prints what happened in plain words; the exit code is 0 when the
// command did what it says, 1 when it failed, 2 for a usage error.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cstdlib>

#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "SimDriver.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage()
{
    wprintf(
        L"usage: glimsim COMMAND\n"
        L"  driver install [PATH]  install and start the simulated driver (default: GlimSimKb.sys beside glimsim.exe)\n"
        L"  driver remove          stop and delete the simulated driver\n"
        L"  driver status          say whether the driver is installed and running\n"
        L"  press                  press the backlight hotkey once (signals event_hwap)\n"
        L"  level                  read the backlight level with the programs' read request\n"
        L"  set N                  set the backlight level with the programs' set request\n"
        L"  fail N error|zero      make the next N backlight requests fail, or return 0 bytes\n"
        L"  history                list the backlight requests the driver answered\n"
        L"  clear                  forget the history\n"
        L"  reset                  forget the history and pending failures, level back to 0\n");
    return kExitUsage;
}

int NoDevice(DWORD dwErr)
{
    wprintf(L"Cannot open %ls (error %lu): is the simulated driver installed? Try 'glimsim driver install'.\n",
            glim::kDevicePath, dwErr);
    return kExitFailed;
}

bool ParseInt(const wchar_t* psz, long* plValue)
{
    wchar_t* pEnd = nullptr;
    errno = 0;
    const long lValue = wcstol(psz, &pEnd, 10);
    if (pEnd == psz || *pEnd != L'\0' || errno == ERANGE)
        return false;
    *plValue = lValue;
    return true;
}

int DriverInstall(const wchar_t* pszPath)
{
    glimtest::CSimDriverInstall driver;
    const std::wstring path = pszPath ? pszPath : glimtest::DriverPathBesideProgram();
    const DWORD dwErr = driver.Install(path);
    if (dwErr) {
        wprintf(L"Could not install and start the simulated driver from %ls (error %lu).\n", path.c_str(), dwErr);
        return kExitFailed;
    }
    driver.Release();
    wprintf(L"Simulated driver installed and running (service %ls, %ls); %ls is ready.\n", simkb::kServiceName,
            path.c_str(), glim::kDevicePath);
    return kExitOk;
}

int DriverRemove()
{
    const DWORD dwErr = glimtest::RemoveInstalledDriver();
    if (dwErr) {
        wprintf(L"Could not remove the simulated driver (error %lu).\n", dwErr);
        return kExitFailed;
    }
    wprintf(L"Simulated driver stopped and removed (or was not installed).\n");
    return kExitOk;
}

int DriverStatus()
{
    DWORD dwErr = 0;
    const DWORD dwState = glimtest::ScmQueryState(simkb::kServiceName, &dwErr);
    if (dwErr == ERROR_SERVICE_DOES_NOT_EXIST) {
        wprintf(L"Simulated driver is not installed.\n");
        return kExitOk;
    }
    if (dwErr) {
        wprintf(L"Cannot query the simulated driver's service (error %lu).\n", dwErr);
        return kExitFailed;
    }
    wprintf(L"Simulated driver is installed and %ls; the device %ls.\n",
            dwState == SERVICE_RUNNING       ? L"running"
                : dwState == SERVICE_STOPPED ? L"stopped"
                                             : L"changing state",
            glimtest::DeviceOpens() ? L"opens" : L"does not open");
    return kExitOk;
}

int Press()
{
    unsigned long ulDir = ~0ul;
    const LONG lStatus = glimtest::Press(&ulDir);
    if (lStatus == glimtest::kStatusSuccess && ulDir < simkb::kHotkeyEventDirCount) {
        wprintf(L"Hotkey pressed: %ls%ls signalled.\n", simkb::kHotkeyEventDirs[ulDir], glim::kEventHotkey);
        return kExitOk;
    }
    if (lStatus == glimtest::kStatusNoDevice)
        return NoDevice(GetLastError());
    if (lStatus == glimtest::kStatusObjectNameNotFound)
        wprintf(L"Hotkey pressed, but nobody listens: %ls does not exist (is Glimward running?).\n",
                glim::kEventHotkey);
    else
        wprintf(L"Hotkey press failed: the driver could not signal %ls (status 0x%08lX).\n", glim::kEventHotkey,
                static_cast<unsigned long>(lStatus));
    return kExitFailed;
}

// One backlight request exactly as the programs make it.
int BacklightRequest(DWORD dwCode, INT32 nIn)
{
    INT32 nOut = 0;
    DWORD dwBytes = 0;
    const DWORD dwErr = glimtest::DeviceRequest(dwCode, &nIn, sizeof(nIn), &nOut, sizeof(nOut), &dwBytes);
    if (dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND)
        return NoDevice(dwErr);
    if (dwBytes == 0) {
        wprintf(L"The driver answered with 0 bytes (error %lu): the programs count this as a failed request.\n", dwErr);
        return kExitFailed;
    }
    if (dwCode == static_cast<DWORD>(IOCTL_KBBL_SET_BRIGHTNESS))
        wprintf(L"Backlight level set to %d.\n", nIn);
    else
        wprintf(L"Backlight level is %d.\n", nOut);
    return kExitOk;
}

int Fail(const wchar_t* pszCount, const wchar_t* pszMode)
{
    long lCount = 0;
    if (!ParseInt(pszCount, &lCount) || lCount < 0)
        return Usage();
    simkb::SimFailMode mode;
    if (wcscmp(pszMode, L"error") == 0)
        mode = simkb::SimFailError;
    else if (wcscmp(pszMode, L"zero") == 0)
        mode = simkb::SimFailZero;
    else
        return Usage();
    const DWORD dwErr = glimtest::FailNext(static_cast<ULONG>(lCount), mode);
    if (dwErr)
        return NoDevice(dwErr);
    wprintf(L"The next %ld backlight request(s) will %ls.\n", lCount,
            mode == simkb::SimFailError ? L"fail with an error" : L"succeed but return 0 bytes");
    return kExitOk;
}

const wchar_t* RequestName(unsigned long ulCode)
{
    if (ulCode == static_cast<unsigned long>(IOCTL_KBBL_SET_BRIGHTNESS))
        return L"set";
    if (ulCode == static_cast<unsigned long>(IOCTL_KBBL_GET_BRIGHTNESS))
        return L"get";
    return L"?";
}

int History()
{
    glimtest::SHistory history;
    if (!glimtest::History(&history))
        return NoDevice(GetLastError());
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    const simkb::SimHistoryHeader& header = history.header;
    wprintf(L"%lu backlight request(s) since the history was cleared (the last %lu kept); level %ld; "
            L"%lu injected failure(s) pending.\n",
            header.ulTotal, static_cast<unsigned long>(history.records.size()), header.lLevel, header.ulFailLeft);
    for (const simkb::SimRecord& rec : history.records) {
        const double dMsAgo = glimtest::CounterToMicroseconds(rec.llTime, now.QuadPart) / 1000.0;
        wprintf(L"  #%-4lu %10.1f ms ago  %ls level %-6ld -> %ls, %lu byte(s)", rec.ulSequence, dMsAgo,
                RequestName(rec.ulCode), rec.lLevel, rec.lStatus == 0 ? L"success" : L"error", rec.ulBytes);
        if (rec.lStatus != 0)
            wprintf(L" (status 0x%08lX)", static_cast<unsigned long>(rec.lStatus));
        wprintf(L"\n");
    }
    return kExitOk;
}

int ResetCommand(bool bAll)
{
    const DWORD dwErr = bAll ? glimtest::Reset() : glimtest::ClearHistory();
    if (dwErr)
        return NoDevice(dwErr);
    wprintf(bAll ? L"Driver reset: history and pending failures cleared, level 0.\n" : L"History cleared.\n");
    return kExitOk;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    const wchar_t* pszCmd = argv[1];
    if (wcscmp(pszCmd, L"driver") == 0 && argc >= 3) {
        if (wcscmp(argv[2], L"install") == 0 && argc <= 4)
            return DriverInstall(argc == 4 ? argv[3] : nullptr);
        if (wcscmp(argv[2], L"remove") == 0 && argc == 3)
            return DriverRemove();
        if (wcscmp(argv[2], L"status") == 0 && argc == 3)
            return DriverStatus();
        return Usage();
    }
    if (wcscmp(pszCmd, L"press") == 0 && argc == 2)
        return Press();
    if (wcscmp(pszCmd, L"level") == 0 && argc == 2)
        return BacklightRequest(IOCTL_KBBL_GET_BRIGHTNESS, 0);
    long lLevel = 0;
    if (wcscmp(pszCmd, L"set") == 0 && argc == 3 && ParseInt(argv[2], &lLevel) && lLevel >= INT32_MIN &&
        lLevel <= INT32_MAX)
        return BacklightRequest(IOCTL_KBBL_SET_BRIGHTNESS, static_cast<INT32>(lLevel));
    if (wcscmp(pszCmd, L"fail") == 0 && argc == 4)
        return Fail(argv[2], argv[3]);
    if (wcscmp(pszCmd, L"history") == 0 && argc == 2)
        return History();
    if (wcscmp(pszCmd, L"clear") == 0 && argc == 2)
        return ResetCommand(false);
    if (wcscmp(pszCmd, L"reset") == 0 && argc == 2)
        return ResetCommand(true);
    return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int nExit = Run(argc, argv);
    fflush(stdout);
    return nExit;
}
