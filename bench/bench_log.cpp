// The cost of one call of the agent's log (GlimLog through the logfilesync map), as the
// agent is configured under HKLM: no configuration, configuration switched off, on with
// the line below the configured level, and on writing every line to a file.
//   bench_log [OFF_CALLS] [ON_CALLS]   (defaults 1000000 and 20000, five rounds each)
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "AgentLog.h"
#include "BenchReport.h"
#include "GlimLog.h"
#include "LogTestUtil.h"

namespace {

constexpr int kRounds = 5;

// Nanoseconds per call over nCalls calls of a typical agent line.
double TimeCalls(int nCalls)
{
    const long long llStart = bench::Qpc();
    for (int i = 0; i < nCalls; ++i)
        GLIM_LOG('I', L"CKBBackLightMgr::SetBrightness", L"level %d, status %d, reason %s", i & 15, 1, L"hotkey");
    return bench::CounterToMs(llStart, bench::Qpc()) * 1.0e6 / nCalls;
}

// Starts the log as the main instance does, times kRounds rounds and prints the row.
// bExpectOn: whether the configuration is meant to open the log; a mismatch is reported.
bool MeasureCase(const wchar_t* pszLabel, bool bExpectOn, int nCalls)
{
    const bool bOn = logfilesync::StartAgentLog();
    if (bOn != bExpectOn) {
        bench::PrintNote(L"%ls: the log did%ls start, unlike configured", pszLabel, bOn ? L"" : L" not");
        logfilesync::StopAgentLog();
        return false;
    }
    TimeCalls(nCalls / 10 + 1);  // warm-up: caches, the file's first growth
    std::vector<double> rounds;
    for (int i = 0; i < kRounds; ++i)
        rounds.push_back(TimeCalls(nCalls));
    logfilesync::StopAgentLog();
    bench::PrintSummaryRow(pszLabel, bench::Summarise(rounds), L"ns/call");
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const int nOffCalls = argc > 1 ? _wtoi(argv[1]) : 1000000;
    const int nOnCalls = argc > 2 ? _wtoi(argv[2]) : 20000;
    if (nOffCalls < 1 || nOnCalls < 1)
        return 2;

    glimtest::CTempFolder scratch;
    const std::wstring logPath = scratch.File(L"Glimagent.log");
    bench::PrintSection(L"Agent log call (GLIM_LOG, one line of three arguments; rows are rounds)");
    int nFailed = 0;
    {
        glimtest::CAgentLogConfig config;  // removes any configuration: the log is off
        nFailed += !MeasureCase(L"log off: no configuration", false, nOffCalls);
    }
    {
        glimtest::CAgentLogConfig config;
        const bool bWritten = config.Write(logPath, 0, 0) && config.SetDword(logfilesync::kValueEnabled, 0);
        nFailed += !bWritten || !MeasureCase(L"log off: configured, enabled=0", false, nOffCalls);
    }
    {
        glimtest::CAgentLogConfig config;
        // Level 3 keeps warnings and errors: an information line is dropped.
        nFailed += !config.Write(logPath, 0, 3) || !MeasureCase(L"log on, line below loglevel", true, nOffCalls);
    }
    {
        glimtest::CAgentLogConfig config;
        nFailed += !config.Write(logPath, 0, 0) || !MeasureCase(L"log on, line written to the file", true, nOnCalls);
    }
    // Every call of the written case must have left its line (warm-up included).
    const size_t nLines = glimtest::ReadLines(logPath).size();
    const size_t nExpected = static_cast<size_t>(kRounds) * nOnCalls + nOnCalls / 10 + 1;
    bench::PrintNote(L"the written case left %u of %u lines in the log file", static_cast<unsigned>(nLines),
                     static_cast<unsigned>(nExpected));
    nFailed += nLines != nExpected;
    return nFailed ? 1 : 0;
}
