// The whole system on a key press: Glimward runs as a service (installed where the
// installer puts it, with the session stand-in reporting an unlocked session), the
// Glimagent main instance runs from its installed path, and the simulated driver signals
// the hotkey. For each press it measures, from the moment of the press:
//   - the driver's time stamp of the backlight set request (same clock as ours),
//   - the OSD window becoming visible, and its pixels showing the new status;
// each median beside the trivial programs' start and end, timed in the same run.
// Then a second series of presses is broken down into stages on the same clock:
//   press -> the service wakes (its session query to the session stand-in),
//   -> the relay process is created (its creation time),
//   -> the relay notifies the settings application (a window of ours titled as it), which
//      it does just before it signals its event,
//   -> the main instance has woken and its set request reaches the driver.
//   bench_system [PRESSES]   (default 31)
// The status cycles Off -> On -> Auto -> Off; Auto sends no level, so the level figures
// come from the other two steps.
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "AgentProcess.h"
#include "BenchReport.h"
#include "BenchRuns.h"
#include "DeviceProtocol.h"
#include "GlimNames.h"
#include "LogTestUtil.h"
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
constexpr int kFloorRuns = 20;

// The first backlight set request since the history was cleared.
bool FirstSetRequest(simkb::SimRecord* pRecord)
{
    glimtest::SHistory history;
    if (!glimtest::History(&history))
        return false;
    for (const simkb::SimRecord& record : history.records) {
        if (record.ulCode == static_cast<unsigned long>(IOCTL_KBBL_SET_BRIGHTNESS)) {
            *pRecord = record;
            return true;
        }
    }
    return false;
}

// A system time (FILETIME units) on the performance counter's scale, from one pair of
// readings taken together; both clocks run at the same rate for the length of a run.
class CClockMap {
public:
    CClockMap()
    {
        LARGE_INTEGER li;
        QueryPerformanceFrequency(&li);
        m_dCountsPerTick = static_cast<double>(li.QuadPart) / 1e7;
        FILETIME ft;
        GetSystemTimePreciseAsFileTime(&ft);
        m_llCounter = bench::Qpc();
        m_llFileTime = ToLL(ft);
    }
    long long ToCounter(const FILETIME& ft) const
    {
        return m_llCounter + static_cast<long long>(static_cast<double>(ToLL(ft) - m_llFileTime) * m_dCountsPerTick);
    }

private:
    static long long ToLL(const FILETIME& ft)
    {
        return static_cast<long long>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    }
    double m_dCountsPerTick = 0;
    long long m_llCounter = 0;
    long long m_llFileTime = 0;
};

// The creation time of the newest Glimagent.exe process other than the main instance.
bool RelayCreation(DWORD dwMainPid, FILETIME* pftCreate)
{
    glimtest::CHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE)
        return false;
    bool bFound = false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Process32FirstW(snapshot.Get(), &entry); bMore; bMore = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == dwMainPid || lstrcmpiW(entry.szExeFile, L"Glimagent.exe") != 0)
            continue;
        glimtest::CHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        FILETIME ftCreate, ftExit, ftKernel, ftUser;
        if (process.Get() && GetProcessTimes(process.Get(), &ftCreate, &ftExit, &ftKernel, &ftUser) &&
            (!bFound || CompareFileTime(&ftCreate, pftCreate) > 0)) {
            *pftCreate = ftCreate;
            bFound = true;
        }
    }
    return bFound;
}

// A window titled as the settings application, on its own thread: it stamps the first
// notification of each press and, while the relay still waits for the answer, the relay's
// creation time.
class CSettingsAppWindow {
public:
    explicit CSettingsAppWindow(DWORD dwMainPid) : m_dwMainPid(dwMainPid)
    {
        m_hReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_hThread = CreateThread(nullptr, 0, &CSettingsAppWindow::ThreadProc, this, 0, &m_dwThreadId);
        if (m_hThread)
            WaitForSingleObject(m_hReady, kWaitMs);
    }
    virtual ~CSettingsAppWindow()
    {
        if (m_hThread) {
            PostThreadMessageW(m_dwThreadId, WM_QUIT, 0, 0);
            WaitForSingleObject(m_hThread, kWaitMs);
            CloseHandle(m_hThread);
        }
        CloseHandle(m_hReady);
    }
    CSettingsAppWindow(const CSettingsAppWindow&) = delete;
    CSettingsAppWindow& operator=(const CSettingsAppWindow&) = delete;

    bool Ok() const { return m_hWnd != nullptr; }
    void Arm()
    {
        m_llNotified = 0;
        m_bRelayFound = false;
    }
    long long Notified() const { return m_llNotified; }
    bool RelayCreated(FILETIME* pft) const
    {
        *pft = m_ftRelay;
        return m_bRelayFound;
    }

private:
    static DWORD WINAPI ThreadProc(LPVOID pArg)
    {
        auto* pThis = static_cast<CSettingsAppWindow*>(pArg);
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &CSettingsAppWindow::WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"GlimBenchSettingsApp";
        RegisterClassExW(&wc);
        pThis->m_hWnd = CreateWindowExW(0, wc.lpszClassName, glim::kSettingsAppWindowTitle, WS_POPUP, 0, 0, 1, 1,
                                        nullptr, nullptr, wc.hInstance, nullptr);
        if (pThis->m_hWnd)
            SetWindowLongPtrW(pThis->m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pThis));
        SetEvent(pThis->m_hReady);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        if (pThis->m_hWnd)
            DestroyWindow(pThis->m_hWnd);
        return 0;
    }
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        auto* pThis = reinterpret_cast<CSettingsAppWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (uMsg == glim::WM_UWP_NOTIFY && pThis && !pThis->m_llNotified) {
            pThis->m_llNotified = bench::Qpc();
            pThis->m_bRelayFound = RelayCreation(pThis->m_dwMainPid, &pThis->m_ftRelay);
            return 0;
        }
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }

    DWORD m_dwMainPid;
    HANDLE m_hReady = nullptr;
    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    HWND m_hWnd = nullptr;
    std::atomic<long long> m_llNotified{0};
    bool m_bRelayFound = false;
    FILETIME m_ftRelay = {};
};

// The counter reading the session stand-in stamped at the service's last query; 0 when none.
long long LastSessionQuery()
{
    ULONGLONG ullValue = 0;
    DWORD cb = sizeof(ullValue);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, simsession::kRegKey, simsession::kValueLastQueryCounter, RRF_RT_REG_QWORD,
                     nullptr, &ullValue, &cb) != ERROR_SUCCESS)
        return 0;
    return static_cast<long long>(ullValue);
}

struct SPressTimes {
    double dLevelMs = -1;    // -1: no level expected or none seen
    double dVisibleMs = -1;  // -1: the OSD did not show
    double dPixelsMs = -1;   // -1: the screen never showed the new status
};

struct SStages {
    std::vector<double> wake, relayCreated, relayNotified, level, total;
};

class CSystemBench {
public:
    // Installs and starts everything; false (with a note) when something is missing.
    bool SetUp();
    // One press; dwStatus is the status it should lead to. False when the press got lost.
    bool Press(DWORD dwStatus, SPressTimes* pTimes);
    // One press broken into stages (only presses that set a level give figures).
    bool PressInStages(DWORD dwStatus, CSettingsAppWindow* pApp, const CClockMap& clocks, SStages* pStages);
    // Waits until the OSD has hidden again (it hides three seconds after showing).
    bool WaitOsdHidden();
    DWORD Status() const { return static_cast<DWORD>(m_settings.Get(glim::kKeyKBStatus)); }
    DWORD MainPid() { return m_main.Process().Pid(); }

private:
    HWND Osd();
    long long StartPress();
    bool WaitStatus(DWORD dwStatus);

    // Declared in set-up order; destroyed in reverse, so the agent and the service go first.
    glimtest::CSimDriverInstall m_driver;
    glimtest::CAgentLogConfig m_logConfig;  // no configuration: the agent logs nothing
    glimtest::CSettings m_settings;
    glimtest::CServiceLogFile m_serviceLog;  // absent: the service logs nothing
    glimtest::CInstalledFile m_serviceProgram;
    glimtest::CInstalledFile m_agentProgram;
    glimtest::CWtsOverride m_override;
    glimtest::CSimSession m_session;
    glimtest::CServiceGuard m_serviceGuard{glim::kServiceName};
    glimtest::CMainAgent m_main;
    HWND m_hOsd = nullptr;
    ULONGLONG m_ullLastPress = 0;
};

bool CSystemBench::SetUp()
{
    if (const DWORD dwErr = m_driver.Install()) {
        bench::PrintNote(L"the simulated driver could not be installed, error %lu", dwErr);
        return false;
    }
    if (glimtest::Reset() != ERROR_SUCCESS || !glimtest::EnsureExplorer()) {
        bench::PrintNote(L"the driver did not reset or Wine's explorer.exe did not start");
        return false;
    }
    glimtest::EndStrayAgents();
    m_settings.Set(glim::kKeyKBStatus, static_cast<int>(glim::kStatusOff));
    m_settings.Set(glim::kKeyKBBrightness, kUserLevel);
    DWORD dwErr = m_serviceProgram.Install(glimtest::BuildBinPath(L"Glimward.exe"), glimtest::InstalledServicePath());
    if (!dwErr)
        dwErr = m_agentProgram.Install(glimtest::BuildBinPath(L"Glimagent.exe"), glim::kAgentProgramPath);
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
    dwErr = glimtest::InstallAndStartService(kWaitMs);
    if (dwErr)
        bench::PrintNote(L"installing or starting the Glimward service failed, error %lu", dwErr);
    return dwErr == ERROR_SUCCESS;
}

HWND CSystemBench::Osd()
{
    if (!m_hOsd)
        m_hOsd = glimtest::FindOsd(m_main.Process().Pid());
    return m_hOsd;
}

bool CSystemBench::WaitOsdHidden()
{
    return glimtest::WaitUntil([this] { return !Osd() || !IsWindowVisible(Osd()); }, kPressTimeoutMs);
}

// Spaces the press from the previous one and presses; 0 when the driver could not signal.
long long CSystemBench::StartPress()
{
    const ULONGLONG ullSince = GetTickCount64() - m_ullLastPress;
    if (ullSince < kMinPressSpacingMs)
        Sleep(static_cast<DWORD>(kMinPressSpacingMs - ullSince));
    glimtest::ClearHistory();
    m_ullLastPress = GetTickCount64();
    const long long llPress = bench::Qpc();
    const LONG lStatus = glimtest::Press();
    if (lStatus != glimtest::kStatusSuccess) {
        bench::PrintNote(L"the driver could not signal the hotkey, status 0x%08lx",
                         static_cast<unsigned long>(lStatus));
        return 0;
    }
    return llPress;
}

bool CSystemBench::WaitStatus(DWORD dwStatus)
{
    const bool bStatus = glimtest::WaitUntil([&] { return Status() == dwStatus; }, kPressTimeoutMs);
    if (!bStatus)
        bench::PrintNote(L"the status is %lu, not %lu, after the press", Status(), dwStatus);
    return bStatus;
}

bool CSystemBench::Press(DWORD dwStatus, SPressTimes* pTimes)
{
    const long long llPress = StartPress();
    if (!llPress)
        return false;
    // Poll every millisecond or so: a busy loop would take a core from the programs measured.
    long long llVisible = 0;
    long long llPixels = 0;
    const int nCell = static_cast<int>(dwStatus);
    const ULONGLONG ullDeadline = GetTickCount64() + kPressTimeoutMs;
    while (!llPixels && GetTickCount64() < ullDeadline) {
        if (!llVisible && Osd() && IsWindowVisible(Osd()))
            llVisible = bench::Qpc();
        if (llVisible && glimtest::HighlightedCell() == nCell)
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
        if (glimtest::WaitUntil([&] { return FirstSetRequest(&record); }, kPressTimeoutMs) &&
            record.lLevel == lExpected)
            pTimes->dLevelMs = bench::CounterToMs(llPress, record.llTime);
        else
            bench::PrintNote(L"no set request for level %ld after the press", lExpected);
    }
    const bool bStatus = WaitStatus(dwStatus);
    return bStatus && llPixels && (dwStatus == glim::kStatusAuto || pTimes->dLevelMs >= 0);
}

bool CSystemBench::PressInStages(DWORD dwStatus, CSettingsAppWindow* pApp, const CClockMap& clocks, SStages* pStages)
{
    pApp->Arm();
    const long long llPress = StartPress();
    if (!llPress)
        return false;
    simkb::SimRecord record = {};
    const bool bLevel =
        dwStatus != glim::kStatusAuto && glimtest::WaitUntil([&] { return FirstSetRequest(&record); }, kPressTimeoutMs);
    const bool bStatus = WaitStatus(dwStatus);
    const long long llWake = LastSessionQuery();
    FILETIME ftRelay = {};
    const bool bRelay = pApp->RelayCreated(&ftRelay);
    const long long llNotified = pApp->Notified();
    if (!bLevel || !bRelay || !llNotified || llWake < llPress)
        return bStatus && dwStatus == glim::kStatusAuto;
    const long long llRelay = clocks.ToCounter(ftRelay);
    pStages->wake.push_back(bench::CounterToMs(llPress, llWake));
    pStages->relayCreated.push_back(bench::CounterToMs(llWake, llRelay));
    pStages->relayNotified.push_back(bench::CounterToMs(llRelay, llNotified));
    pStages->level.push_back(bench::CounterToMs(llNotified, record.llTime));
    pStages->total.push_back(bench::CounterToMs(llPress, record.llTime));
    return bStatus;
}

void PrintSamples(const wchar_t* pszSeries, const std::vector<double>& samples)
{
    // Lines for the picture, taken out of the table by scripts/bench.
    for (double d : samples)
        wprintf(L"@latency\t%ls\t%.3f\n", pszSeries, d);
    fflush(stdout);
}

// A latency row with its median's ratio to both floors.
void PrintLatencyRow(const wchar_t* pszWhat, const std::vector<double>& samples, const bench::SFloors& floors)
{
    const bench::SSummary summary = bench::Summarise(samples);
    const double dConsole = bench::Summarise(floors.console).dMedian;
    const double dGui = bench::Summarise(floors.gui).dMedian;
    wchar_t szNote[96];
    _snwprintf(szNote, 95, L"x%.2f console, x%.2f GUI floor", dConsole > 0 ? summary.dMedian / dConsole : 0.0,
               dGui > 0 ? summary.dMedian / dGui : 0.0);
    bench::PrintSummaryRow(pszWhat, summary, L"ms", szNote);
}

void RunLatency(CSystemBench* pSystem, int nPresses, const bench::SFloors& floors, int* pnLost)
{
    std::vector<double> levelMs, visibleMs, pixelsMs;
    DWORD dwStatus = pSystem->Status();
    for (int i = 0; i < nPresses; ++i) {
        if (!pSystem->WaitOsdHidden())
            bench::PrintNote(L"press %d: the OSD was still visible", i + 1);
        dwStatus = (dwStatus + 1) % 3;  // Off -> On -> Auto -> Off
        SPressTimes times;
        if (!pSystem->Press(dwStatus, &times)) {
            bench::PrintNote(L"press %d (to status %lu) did not complete", i + 1, dwStatus);
            ++*pnLost;
            dwStatus = pSystem->Status();  // carry on from where the system is
        }
        if (times.dLevelMs >= 0)
            levelMs.push_back(times.dLevelMs);
        if (times.dVisibleMs >= 0)
            visibleMs.push_back(times.dVisibleMs);
        if (times.dPixelsMs >= 0)
            pixelsMs.push_back(times.dPixelsMs);
    }
    bench::PrintSection(L"Key press (simulated driver) -> Glimward -> relay -> Glimagent main instance");
    bench::PrintSummaryRow(L"floor: trivial console program start and end", bench::Summarise(floors.console), L"ms");
    bench::PrintSummaryRow(L"floor: trivial windows program start and end", bench::Summarise(floors.gui), L"ms");
    PrintLatencyRow(L"press -> level set at the driver (Off->On, Auto->Off)", levelMs, floors);
    PrintLatencyRow(L"press -> OSD window visible", visibleMs, floors);
    PrintLatencyRow(L"press -> OSD pixels show the new status", pixelsMs, floors);
    bench::PrintNote(L"%d presses, %d incomplete; OSD polled about every millisecond", nPresses, *pnLost);
    PrintSamples(L"console floor", floors.console);
    PrintSamples(L"GUI floor", floors.gui);
    PrintSamples(L"press -> level", levelMs);
    PrintSamples(L"press -> OSD visible", visibleMs);
}

void RunStages(CSystemBench* pSystem, int nPresses, int* pnLost)
{
    CSettingsAppWindow app(pSystem->MainPid());
    if (!app.Ok()) {
        bench::PrintNote(L"no stand-in settings-application window: no stage breakdown");
        return;
    }
    const CClockMap clocks;
    SStages stages;
    DWORD dwStatus = pSystem->Status();
    for (int i = 0; i < nPresses; ++i) {
        dwStatus = (dwStatus + 1) % 3;
        if (!pSystem->PressInStages(dwStatus, &app, clocks, &stages)) {
            bench::PrintNote(L"stage press %d (to status %lu) did not complete", i + 1, dwStatus);
            ++*pnLost;
            dwStatus = pSystem->Status();
        }
    }
    bench::PrintSection(L"Where a press spends its time (presses that set a level; one counter)");
    bench::PrintSummaryRow(L"press -> Glimward wakes (its session query)", bench::Summarise(stages.wake), L"ms");
    bench::PrintSummaryRow(L"Glimward wakes -> relay process created", bench::Summarise(stages.relayCreated), L"ms");
    bench::PrintSummaryRow(L"relay created -> relay notifies, signals its event",
                           bench::Summarise(stages.relayNotified), L"ms");
    bench::PrintSummaryRow(L"event -> main instance's set request at the driver", bench::Summarise(stages.level),
                           L"ms");
    bench::PrintSummaryRow(L"press -> level (these presses)", bench::Summarise(stages.total), L"ms");
    bench::PrintNote(L"the relay's creation time is the system clock mapped onto the counter; with a window titled "
                     L"as the settings application, which the relay notifies just before it signals");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const int nPresses = argc > 1 ? _wtoi(argv[1]) : 31;
    if (nPresses < 1)
        return 2;

    CSystemBench system;
    if (!system.SetUp())
        return 1;
    bench::SFloors floors;
    if (!bench::TimeFloors(kFloorRuns, &floors))
        return 1;
    int nLost = 0;
    RunLatency(&system, nPresses, floors, &nLost);
    RunStages(&system, nPresses, &nLost);
    return nLost ? 1 : 0;
}
