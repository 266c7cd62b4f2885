// Idle cost, one row per configuration, each a fresh process on its own settings: the CPU
// time of the whole process over an idle window (ended threads included), the wineserver's
// share in the same window (it works for every client), resident memory, threads and
// handles at the start and the end of the window (they must not grow). Floors measured in
// the same run: a trivial windows program idling in its message loop, and the same program
// starting one empty thread every 2 seconds (the floor of a design with one new check
// thread per 2-second tick). Each row prints its ratio to that thread floor.
//   bench_idle [SECONDS [ROWS]]   (default 60 s per row; ROWS: only the rows whose name holds
//                                  one of its '|'-separated parts, "split" for the rows that
//                                  split the floor's cost)
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AgentProcess.h"
#include "BenchProc.h"
#include "BenchReport.h"
#include "ChildProcess.h"
#include "GlimNames.h"
#include "LogTestUtil.h"
#include "ServiceHarness.h"
#include "SettingsFileTools.h"
#include "SimComServer.h"
#include "SimDriver.h"
#include "SimSensorDriver.h"
#include "SimSessionProtocol.h"
#include "sensorsim/SimSensorProtocol.h"

using namespace glimtest;

namespace {

constexpr DWORD kWaitMs = 15000;
// After a start, what start-up does (first level, first timers) settles before the window.
constexpr DWORD kSettleMs = 5000;
constexpr DWORD kReportPeriodMs = 500;
constexpr float kSteadyLux = 30.0f;

// CLSID_SensorManager and CLSID_PortableDeviceValues, served by the simulated sensor.
const CLSID kClsidSensorManager = {0x77a1c827, 0xfcd2, 0x4689, {0x89, 0x15, 0x9d, 0x61, 0x3c, 0xc5, 0xfa, 0x3e}};
const CLSID kClsidPortableDeviceValues = {0x0c15d503, 0xd017, 0x47ce, {0x90, 0x16, 0x7b, 0x3f, 0x97, 0x87, 0x21, 0xcc}};

struct SWindow {
    bool bOk = false;
    double dElapsedMs = 0;
    bench::SProcSample before, after;
    double dServerMs = -1;
};

// Samples the process and the wineserver, runs the window (during() or a sleep), samples again.
SWindow MeasureWindow(DWORD dwWinPid, const wchar_t* pszUnixName, DWORD dwSeconds,
                      const std::function<void(DWORD)>& during)
{
    SWindow window;
    bench::CWatchedProcess target(dwWinPid, pszUnixName);
    bench::CWatchedProcess server(0, L"wineserver");
    if (!target.Found()) {
        bench::PrintNote(L"%ls: the process was not found", pszUnixName);
        return window;
    }
    window.before = target.Sample();
    const bench::SProcSample serverBefore = server.Sample();
    const long long llStart = bench::Qpc();
    if (during)
        during(dwSeconds * 1000);
    else
        Sleep(dwSeconds * 1000);
    window.dElapsedMs = bench::CounterToMs(llStart, bench::Qpc());
    window.after = target.Sample();
    const bench::SProcSample serverAfter = server.Sample();
    if (serverBefore.dCpuMs >= 0 && serverAfter.dCpuMs >= 0)
        window.dServerMs = serverAfter.dCpuMs - serverBefore.dCpuMs;
    window.bOk = window.before.dCpuMs >= 0 && window.after.dCpuMs >= 0;
    return window;
}

class CIdleTable {
public:
    void Head(DWORD dwSeconds) const
    {
        wchar_t szTitle[160];
        _snwprintf(szTitle, 159, L"Idle cost over %lu s per row (%ls)", dwSeconds,
                   bench::RunsUnderWine() ? L"/proc of the Wine processes: ended threads included"
                                          : L"GetProcessTimes");
        wprintf(L"\n== %ls\n", szTitle);
        wprintf(L"%-44ls %9ls %8ls %8ls %11ls %17ls %9ls %11ls\n", L"row", L"CPU ms", L"% core", L"x floor",
                L"server ms", L"RSS MB start>end", L"threads", L"handles");
        fflush(stdout);
    }

    // The thread floor's CPU per elapsed ms: the base of the ratio column.
    void SetFloor(const SWindow& window)
    {
        if (window.bOk && window.dElapsedMs > 0)
            m_dFloorPerMs = (window.after.dCpuMs - window.before.dCpuMs) / window.dElapsedMs;
    }

    void Row(const wchar_t* pszRow, const SWindow& window) const
    {
        if (!window.bOk) {
            bench::PrintNote(L"%ls: no figures (the process could not be read, or it ended)", pszRow);
            return;
        }
        const double dCpuMs = window.after.dCpuMs - window.before.dCpuMs;
        const double dPercent = 100.0 * dCpuMs / window.dElapsedMs;
        wchar_t szRatio[32] = L"-";
        if (m_dFloorPerMs > 0)
            _snwprintf(szRatio, 31, L"%.2f", dCpuMs / window.dElapsedMs / m_dFloorPerMs);
        wchar_t szServer[32] = L"-";
        if (window.dServerMs >= 0)
            _snwprintf(szServer, 31, L"%.0f", window.dServerMs);
        wchar_t szRss[48], szThreads[32], szHandles[32];
        _snwprintf(szRss, 47, L"%.1f>%.1f", window.before.lRssKb / 1024.0, window.after.lRssKb / 1024.0);
        _snwprintf(szThreads, 31, L"%ld>%ld", window.before.lThreads, window.after.lThreads);
        _snwprintf(szHandles, 31, L"%ld>%ld", window.before.lHandles, window.after.lHandles);
        wprintf(L"%-44ls %9.0f %8.3f %8ls %11ls %17ls %9ls %11ls\n", pszRow, dCpuMs, dPercent, szRatio, szServer, szRss,
                szThreads, szHandles);
        // A line for the picture, taken out of the table by scripts/bench.
        wprintf(L"@idle\t%ls\t%.4f\t%.4f\n", pszRow, dPercent,
                window.dServerMs >= 0 ? 100.0 * window.dServerMs / window.dElapsedMs : 0.0);
        fflush(stdout);
    }

private:
    double m_dFloorPerMs = 0;
};

// A floor program of the bench, running for the object's lifetime.
SWindow MeasureFloor(const wchar_t* pszArgument, DWORD dwSeconds)
{
    CChildProcess program;
    if (program.Start(glimtest::BuildBinPath(L"bench_idle_gui.exe"), pszArgument) != ERROR_SUCCESS) {
        bench::PrintNote(L"bench_idle_gui.exe %ls did not start", pszArgument);
        return SWindow();
    }
    Sleep(kSettleMs);
    return MeasureWindow(program.Id(), L"bench_idle_gui.exe", dwSeconds, nullptr);
}

// The service installed and started where the installer puts it, no agent running.
SWindow MeasureService(DWORD dwSeconds)
{
    glimtest::CServiceGuard guard(glim::kServiceName);
    glimtest::CInstalledFile program;
    glimtest::CWtsOverride override;
    glimtest::CSimSession session;
    DWORD dwErr = program.Install(glimtest::BuildBinPath(L"Glimward.exe"), glimtest::InstalledServicePath());
    if (!dwErr)
        dwErr = override.Install();
    if (!dwErr)
        dwErr = session.SetFlags(simsession::kFlagsUnlocked);
    if (!dwErr)
        dwErr = glimtest::InstallAndStartService(kWaitMs);
    if (dwErr) {
        bench::PrintNote(L"the Glimward service could not be installed and started, error %lu", dwErr);
        return SWindow();
    }
    Sleep(kSettleMs);
    // The service manager starts it by its image path without ".exe".
    return MeasureWindow(glimtest::ServiceProcessId(glim::kServiceName), L"Glimward", dwSeconds, nullptr);
}

struct SAgentRow {
    const wchar_t* pszRow;
    const wchar_t* pszStatus;      // KBStatus
    const wchar_t* pszFullScreen;  // FullScreen5sClose; nullptr: not written
    const wchar_t* pszIdle;        // InActiveTime; nullptr: not written
    bool bSensor;                  // one simulated light sensor reporting twice a second
};

// Settings of a row in a UTF-16 file, so that "10分" keeps its unit.
bool WriteRowSettings(const SAgentRow& row)
{
    if (glimtest::RemoveFile() || glimtest::CreateUnicodeFile())
        return false;
    bool bOk =
        glimtest::WriteKey(glim::kKeyKBStatus, row.pszStatus) && glimtest::WriteKey(glim::kKeyKBBrightness, L"5");
    if (row.pszFullScreen)
        bOk = bOk && glimtest::WriteKey(glim::kKeyFullScreen5sClose, row.pszFullScreen);
    if (row.pszIdle)
        bOk = bOk && glimtest::WriteKey(glim::kKeyInActiveTime, row.pszIdle);
    return bOk;
}

// Reports the steady light twice a second until the window ends.
void ReportLight(glimtest::CSimSensorDriver* pSensors, DWORD dwWindowMs)
{
    const ULONGLONG ullEnd = GetTickCount64() + dwWindowMs;
    for (ULONGLONG ullNow = GetTickCount64(); ullNow < ullEnd; ullNow = GetTickCount64()) {
        const ULONGLONG ullNext = ullNow + kReportPeriodMs < ullEnd ? ullNow + kReportPeriodMs : ullEnd;
        pSensors->Report(0, kSteadyLux);
        const ULONGLONG ullAfter = GetTickCount64();
        if (ullAfter < ullNext)
            Sleep(static_cast<DWORD>(ullNext - ullAfter));
    }
}

SWindow MeasureAgent(const SAgentRow& row, DWORD dwSeconds)
{
    std::unique_ptr<glimtest::CSimComRegistration> managerReg, valuesReg;
    std::unique_ptr<glimtest::CSimSensorDriver> sensors;
    if (row.bSensor) {
        managerReg.reset(new glimtest::CSimComRegistration(kClsidSensorManager, simsensor::kDllName));
        valuesReg.reset(new glimtest::CSimComRegistration(kClsidPortableDeviceValues, simsensor::kDllName));
        sensors.reset(new glimtest::CSimSensorDriver());
        sensors->Describe(0, kSteadyLux);
    }
    if (!WriteRowSettings(row)) {
        bench::PrintNote(L"%ls: the settings file could not be written", row.pszRow);
        return SWindow();
    }
    glimtest::CMainAgent main;
    if (!main.Start(kWaitMs)) {
        bench::PrintNote(L"%ls: the Glimagent main instance did not come up", row.pszRow);
        return SWindow();
    }
    if (sensors && !glimtest::WaitUntil([&] { return sensors->SlotState(0).bSinkSet != 0; }, kWaitMs))
        bench::PrintNote(L"%ls: the agent did not attach the simulated sensor", row.pszRow);
    Sleep(kSettleMs);
    std::function<void(DWORD)> during;
    if (sensors)
        during = [&](DWORD dwWindowMs) { ReportLight(sensors.get(), dwWindowMs); };
    const SWindow window = MeasureWindow(main.Process().Pid(), L"Glimagent.exe", dwSeconds, during);
    if (!main.Process().IsRunning())
        bench::PrintNote(L"%ls: the agent ended during the window", row.pszRow);
    main.Exit();
    return window;
}

// True when the row's name holds one of the '|'-separated parts of the selection (or it is empty).
bool Selected(const std::wstring& row, const std::wstring& selection)
{
    if (selection.empty())
        return true;
    for (size_t pos = 0; pos <= selection.size();) {
        const size_t end = std::min(selection.find(L'|', pos), selection.size());
        const std::wstring part = selection.substr(pos, end - pos);
        if (!part.empty() && row.find(part) != std::wstring::npos)
            return true;
        pos = end + 1;
    }
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    _setmode(_fileno(stdout), _O_U8TEXT);  // row names hold "10分"
    const int nSeconds = argc > 1 ? _wtoi(argv[1]) : 60;
    const wchar_t* pszOnly = argc > 2 ? argv[2] : L"";
    if (nSeconds < 1)
        return 2;
    const DWORD dwSeconds = static_cast<DWORD>(nSeconds);

    glimtest::CSimDriverInstall driver;
    if (const DWORD dwErr = driver.Install()) {
        bench::PrintNote(L"the simulated driver could not be installed, error %lu", dwErr);
        return 1;
    }
    if (glimtest::Reset() != ERROR_SUCCESS || !glimtest::EnsureExplorer()) {
        bench::PrintNote(L"the driver did not reset or Wine's explorer.exe did not start");
        return 1;
    }
    glimtest::EndStrayAgents();
    glimtest::CAgentLogConfig logConfig;  // no configuration: the agent logs nothing
    glimtest::CSettingsReset settings;

    static const SAgentRow kAgentRows[] = {
        {L"Glimagent Off", L"0", nullptr, nullptr, false},
        {L"Glimagent On, no rule", L"1", nullptr, nullptr, false},
        {L"Glimagent On, full-screen rule", L"1", L"1", nullptr, false},
        {L"Glimagent On, idle rule (10\x5206)", L"1", nullptr, L"10\x5206", false},
        {L"Glimagent On, both rules", L"1", L"1", L"10\x5206", false},
        {L"Glimagent Auto, sensor reporting 2/s", L"2", nullptr, nullptr, true},
    };
    struct SRow {
        const wchar_t* pszRow;
        std::function<SWindow()> measure;
        bool bOnRequest;  // only when ROW names it
    };
    // The thread floor first: every row's ratio is to it. The rows on request split what
    // the floor program pays once its thread also does what the check thread must.
    std::vector<SRow> rows = {
        {L"floor: trivial GUI program, empty thread/2 s", [&] { return MeasureFloor(L"thread", dwSeconds); }, false},
        {L"floor: trivial GUI program, message loop", [&] { return MeasureFloor(L"", dwSeconds); }, false},
        {L"split: floor thread sends one message", [&] { return MeasureFloor(L"send", dwSeconds); }, true},
        {L"split: floor thread, agent's libraries loaded", [&] { return MeasureFloor(L"thread dlls", dwSeconds); },
         true},
        {L"split: floor thread sends, libraries loaded", [&] { return MeasureFloor(L"send dlls", dwSeconds); }, true},
        {L"Glimward service alone", [&] { return MeasureService(dwSeconds); }, false},
    };
    for (const SAgentRow& row : kAgentRows)
        rows.push_back({row.pszRow, [&row, dwSeconds] { return MeasureAgent(row, dwSeconds); }, false});

    CIdleTable table;
    table.Head(dwSeconds);
    int nFailed = 0;
    for (const SRow& row : rows) {
        if (!Selected(row.pszRow, pszOnly) || (row.bOnRequest && !*pszOnly))
            continue;
        const SWindow window = row.measure();
        if (&row == &rows.front())
            table.SetFloor(window);
        nFailed += window.bOk ? 0 : 1;
        table.Row(row.pszRow, window);
    }
    bench::PrintNote(L"x floor: CPU per second over the thread floor's; server ms: the wineserver in the same window");
    bench::PrintNote(
        L"threads: the process's threads now (under Wine its Unix threads); handles: the system handle table");
    if (bench::RunsUnderWine())
        bench::PrintNote(L"/proc counts CPU time in 10 ms ticks: each CPU figure is good to about 10 ms");
    return nFailed ? 1 : 0;
}
