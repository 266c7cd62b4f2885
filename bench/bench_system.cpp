// The whole system on a key press: Glimward runs as a service (installed where the
// installer puts it, with the session stand-in reporting an unlocked session), the
// Glimagent main instance runs from its installed path, and the simulated driver signals
// the hotkey. For each press it measures, from the moment of the press:
//   - the driver's time stamp of the backlight set request (same clock as ours),
//   - the OSD window becoming visible, and its pixels showing the new status.
// Then, in On, the CPU time of the main instance (and of the service) over an idle spell.
//   bench_system [PRESSES] [IDLE_SECONDS]   (defaults 31 and 60)
// The status cycles Off -> On -> Auto -> Off; Auto sends no level, so the level figures
// come from the other two steps. The press count is rounded up so the run ends in On.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "AgentProcess.h"
#include "BenchReport.h"
#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "LogTestUtil.h"
#include "Scm.h"
#include "ScreenProbe.h"
#include "ServiceHarness.h"
#include "SimDriver.h"
#include "SimSessionProtocol.h"

namespace {

constexpr DWORD kWaitMs = 15000;
constexpr DWORD kPressTimeoutMs = 5000;
// The service ignores a press within 500 ms of the previous one.
constexpr DWORD kMinPressSpacingMs = 600;
constexpr int kUserLevel = 5;
constexpr DWORD kInteractiveType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;

// Removes any Glimward service at the start and again at the end, on every path.
class CServiceGuard {
public:
    CServiceGuard() { scm::Remove(glim::kServiceName); }
    virtual ~CServiceGuard() { scm::Remove(glim::kServiceName); }
};

double FileTimeMs(const FILETIME& ft)
{
    return static_cast<double>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000.0;
}

struct SCpu {
    double dUserMs = 0;
    double dKernelMs = 0;
};

bool RunsUnderWine()
{
    const HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    return hNtdll && GetProcAddress(hNtdll, "wine_get_version");
}

// The times of every thread the process has now. Wine's GetProcessTimes does not report
// another process's times (it gives one and the same figure for every handle), while its
// GetThreadTimes reads each thread's own; threads that have already ended are not counted.
bool ThreadsCpu(DWORD dwPid, SCpu* pCpu)
{
    logtest::CHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE)
        return false;
    *pCpu = SCpu();
    int nThreads = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Thread32First(snapshot.Get(), &entry); bMore; bMore = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != dwPid)
            continue;
        logtest::CHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
        FILETIME ftCreate, ftExit, ftKernel, ftUser;
        if (!thread.Get() || !GetThreadTimes(thread.Get(), &ftCreate, &ftExit, &ftKernel, &ftUser))
            continue;
        pCpu->dUserMs += FileTimeMs(ftUser);
        pCpu->dKernelMs += FileTimeMs(ftKernel);
        ++nThreads;
    }
    return nThreads > 0;
}

// The process's CPU time so far: GetProcessTimes, or under Wine the sum over its threads.
bool ProcessCpu(HANDLE hProcess, SCpu* pCpu)
{
    if (!hProcess)
        return false;
    if (RunsUnderWine())
        return ThreadsCpu(GetProcessId(hProcess), pCpu);
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    if (!GetProcessTimes(hProcess, &ftCreate, &ftExit, &ftKernel, &ftUser))
        return false;
    pCpu->dUserMs = FileTimeMs(ftUser);
    pCpu->dKernelMs = FileTimeMs(ftKernel);
    return true;
}

void PrintCpuRow(const wchar_t* pszWhat, bool bRead, const SCpu& before, const SCpu& after)
{
    if (!bRead) {
        bench::PrintNote(L"%ls: the process times could not be read (or the process ended)", pszWhat);
        return;
    }
    const double dUser = after.dUserMs - before.dUserMs;
    const double dKernel = after.dKernelMs - before.dKernelMs;
    wchar_t szNote[128];
    _snwprintf(szNote, 127, L"user %.1f + kernel %.1f; %.1f ms before", dUser, dKernel,
               before.dUserMs + before.dKernelMs);
    bench::PrintValueRow(pszWhat, dUser + dKernel, L"ms", szNote);
}

// The first backlight set request since the history was cleared.
bool FirstSetRequest(simkb::SimRecord* pRecord)
{
    simkb::SHistory history;
    if (!simkb::History(&history))
        return false;
    for (const simkb::SimRecord& record : history.records) {
        if (record.ulCode == static_cast<unsigned long>(IOCTL_KBBL_SET_BRIGHTNESS)) {
            *pRecord = record;
            return true;
        }
    }
    return false;
}

struct SPressTimes {
    double dLevelMs = -1;    // -1: no level expected or none seen
    double dVisibleMs = -1;  // -1: the OSD did not show
    double dPixelsMs = -1;   // -1: the screen never showed the new status
};

class CSystemBench {
public:
    // Installs and starts everything; false (with a note) when something is missing.
    bool SetUp();
    // One press; dwStatus is the status it should lead to. False when the press got lost.
    bool Press(DWORD dwStatus, SPressTimes* pTimes);
    // Waits until the OSD has hidden again (it hides three seconds after showing).
    bool WaitOsdHidden();
    void MeasureIdle(DWORD dwSeconds);
    DWORD Status() const { return static_cast<DWORD>(m_settings.Get(glim::kKeyKBStatus)); }

private:
    bool InstallAndStartService();
    HWND Osd();

    // Declared in set-up order; destroyed in reverse, so the agent and the service go first.
    simkb::CSimDriverInstall m_driver;
    logtest::CAgentLogConfig m_logConfig;  // no configuration: the agent logs nothing
    svctest::CSettings m_settings;
    svctest::CServiceLogFile m_serviceLog;  // absent: the service logs nothing
    svctest::CInstalledFile m_serviceProgram;
    svctest::CInstalledFile m_agentProgram;
    svctest::CWtsOverride m_override;
    svctest::CSimSession m_session;
    CServiceGuard m_serviceGuard;
    agenttest::CMainAgent m_main;
    HWND m_hOsd = nullptr;
    ULONGLONG m_ullLastPress = 0;
};

bool CSystemBench::SetUp()
{
    if (const DWORD dwErr = m_driver.Install()) {
        bench::PrintNote(L"the simulated driver could not be installed, error %lu", dwErr);
        return false;
    }
    if (simkb::Reset() != ERROR_SUCCESS || !svctest::EnsureExplorer()) {
        bench::PrintNote(L"the driver did not reset or Wine's explorer.exe did not start");
        return false;
    }
    agenttest::EndStrayAgents();
    m_settings.Set(glim::kKeyKBStatus, static_cast<int>(glim::kStatusOff));
    m_settings.Set(glim::kKeyKBBrightness, kUserLevel);
    DWORD dwErr = m_serviceProgram.Install(svctest::BuildBinPath(L"Glimward.exe"), svctest::InstalledServicePath());
    if (!dwErr)
        dwErr = m_agentProgram.Install(svctest::BuildBinPath(L"Glimagent.exe"), glim::kAgentProgramPath);
    if (!dwErr)
        dwErr = m_override.Install();
    if (!dwErr)
        dwErr = m_session.SetFlags(simsession::kFlagsUnlocked);
    if (dwErr) {
        bench::PrintNote(L"installing the programs or the session stand-in failed, error %lu", dwErr);
        return false;
    }
    if (!m_main.Start(kWaitMs, glim::kAgentProgramPath)) {
        bench::PrintNote(L"the installed Glimagent main instance did not come up");
        return false;
    }
    return InstallAndStartService();
}

bool CSystemBench::InstallAndStartService()
{
    DWORD dwExit = 0xdeadbeef;
    DWORD dwErr = svctest::RunProgram(svctest::InstalledServicePath(), L"x -I", &dwExit);
    // Under Wine the service reaches the user's desktop only when marked interactive.
    if (!dwErr)
        dwErr = scm::ChangeType(glim::kServiceName, kInteractiveType);
    if (!dwErr)
        dwErr = scm::Start(glim::kServiceName);
    if (dwErr) {
        bench::PrintNote(L"installing or starting the Glimward service failed, error %lu", dwErr);
        return false;
    }
    const bool bListening = svctest::WaitUntil([] { return agenttest::EventExists(glim::kEventHotkey); }, kWaitMs);
    if (!bListening)
        bench::PrintNote(L"the service never created its hotkey event");
    return bListening;
}

HWND CSystemBench::Osd()
{
    if (!m_hOsd)
        m_hOsd = screenprobe::FindOsd(m_main.Process().Pid());
    return m_hOsd;
}

bool CSystemBench::WaitOsdHidden()
{
    return agenttest::WaitUntil([this] { return !Osd() || !IsWindowVisible(Osd()); }, kPressTimeoutMs);
}

bool CSystemBench::Press(DWORD dwStatus, SPressTimes* pTimes)
{
    const ULONGLONG ullSince = GetTickCount64() - m_ullLastPress;
    if (ullSince < kMinPressSpacingMs)
        Sleep(static_cast<DWORD>(kMinPressSpacingMs - ullSince));
    simkb::ClearHistory();
    m_ullLastPress = GetTickCount64();
    const long long llPress = bench::Qpc();
    const LONG lStatus = simkb::Press();
    if (lStatus != simkb::kStatusSuccess) {
        bench::PrintNote(L"the driver could not signal the hotkey, status 0x%08lx", static_cast<unsigned long>(lStatus));
        return false;
    }
    // Poll every millisecond or so: a busy loop would take a core from the programs measured.
    long long llVisible = 0;
    long long llPixels = 0;
    const int nCell = static_cast<int>(dwStatus);
    const ULONGLONG ullDeadline = GetTickCount64() + kPressTimeoutMs;
    while (!llPixels && GetTickCount64() < ullDeadline) {
        if (!llVisible && Osd() && IsWindowVisible(Osd()))
            llVisible = bench::Qpc();
        if (llVisible && screenprobe::HighlightedCell() == nCell)
            llPixels = bench::Qpc();
        Sleep(1);
    }
    if (llVisible)
        pTimes->dVisibleMs = bench::CounterToMs(llPress, llVisible);
    if (llPixels)
        pTimes->dPixelsMs = bench::CounterToMs(llPress, llPixels);

    if (dwStatus != glim::kStatusAuto) {
        const long lExpected = dwStatus == glim::kStatusOn ? kUserLevel : 0;
        simkb::SimRecord record = {};
        if (agenttest::WaitUntil([&] { return FirstSetRequest(&record); }, kPressTimeoutMs) && record.lLevel == lExpected)
            pTimes->dLevelMs = bench::CounterToMs(llPress, record.llTime);
        else
            bench::PrintNote(L"no set request for level %ld after the press", lExpected);
    }
    const bool bStatus = svctest::WaitUntil([&] { return Status() == dwStatus; }, kPressTimeoutMs);
    if (!bStatus)
        bench::PrintNote(L"the status is %lu, not %lu, after the press", Status(), dwStatus);
    return bStatus && llPixels && (dwStatus == glim::kStatusAuto || pTimes->dLevelMs >= 0);
}

void CSystemBench::MeasureIdle(DWORD dwSeconds)
{
    const DWORD dwServicePid = svctest::ServiceProcessId(glim::kServiceName);
    logtest::CHandle service(dwServicePid ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, dwServicePid) : nullptr);
    const HANDLE hAgent = m_main.Process().Handle();
    simkb::ClearHistory();
    SCpu agentBefore, agentAfter, serviceBefore, serviceAfter;
    const bool bAgent = ProcessCpu(hAgent, &agentBefore);
    const bool bService = ProcessCpu(service.Get(), &serviceBefore);
    const long long llStart = bench::Qpc();
    Sleep(dwSeconds * 1000);
    const double dElapsedMs = bench::CounterToMs(llStart, bench::Qpc());
    const bool bAgentAfter = bAgent && ProcessCpu(hAgent, &agentAfter) && m_main.Process().IsRunning();
    const bool bServiceAfter = bService && ProcessCpu(service.Get(), &serviceAfter);

    wchar_t szTitle[256];
    _snwprintf(szTitle, 255, L"Idle CPU time over %.1f s in On (%ls)", dElapsedMs / 1000.0,
               RunsUnderWine() ? L"sum of GetThreadTimes; Wine's GetProcessTimes misses other processes" : L"GetProcessTimes");
    bench::PrintSection(szTitle);
    PrintCpuRow(L"Glimagent main instance, user+kernel", bAgentAfter, agentBefore, agentAfter);
    PrintCpuRow(L"Glimward service, user+kernel", bServiceAfter, serviceBefore, serviceAfter);
    simkb::SHistory history;
    if (simkb::History(&history))
        bench::PrintNote(L"backlight requests while idle: %lu", history.header.ulTotal);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    int nPresses = argc > 1 ? _wtoi(argv[1]) : 31;
    const int nIdleSeconds = argc > 2 ? _wtoi(argv[2]) : 60;
    if (nPresses < 1 || nIdleSeconds < 0)
        return 2;
    nPresses += (3 + 1 - nPresses % 3) % 3;  // from Off, press 3k+1 ends in On

    CSystemBench system;
    if (!system.SetUp())
        return 1;

    std::vector<double> levelMs, visibleMs, pixelsMs;
    int nLost = 0;
    DWORD dwStatus = glim::kStatusOff;
    for (int i = 0; i < nPresses; ++i) {
        if (!system.WaitOsdHidden())
            bench::PrintNote(L"press %d: the OSD was still visible", i + 1);
        dwStatus = (dwStatus + 1) % 3;  // Off -> On -> Auto -> Off
        SPressTimes times;
        if (!system.Press(dwStatus, &times)) {
            bench::PrintNote(L"press %d (to status %lu) did not complete", i + 1, dwStatus);
            ++nLost;
            dwStatus = system.Status();  // carry on from where the system is
        }
        if (times.dLevelMs >= 0)
            levelMs.push_back(times.dLevelMs);
        if (times.dVisibleMs >= 0)
            visibleMs.push_back(times.dVisibleMs);
        if (times.dPixelsMs >= 0)
            pixelsMs.push_back(times.dPixelsMs);
    }

    bench::PrintSection(L"Key press (simulated driver) -> Glimward -> relay -> Glimagent main instance");
    bench::PrintSummaryRow(L"press -> level set at the driver (Off->On, Auto->Off)", bench::Summarise(levelMs), L"ms");
    bench::PrintSummaryRow(L"press -> OSD window visible", bench::Summarise(visibleMs), L"ms");
    bench::PrintSummaryRow(L"press -> OSD pixels show the new status", bench::Summarise(pixelsMs), L"ms");
    bench::PrintNote(L"%d presses, %d incomplete; OSD polled about every millisecond", nPresses, nLost);

    if (system.Status() != glim::kStatusOn) {
        bench::PrintNote(L"the status is %lu, not On: no idle measurement", system.Status());
        return 1;
    }
    system.WaitOsdHidden();
    system.MeasureIdle(static_cast<DWORD>(nIdleSeconds));
    return nLost ? 1 : 0;
}
