// Start and end of a trivial program in this prefix, CreateProcessW to the end of the
// wait: the cost a design pays when it starts a relay process for every key press; beside
// it, the agent started as a relay with no main instance to relay to (it looks for the
// main window and ends), which is what its own start costs over the floor.
//   bench_start [RUNS]   (default 20 runs of each program, after one warm-up run)
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "AgentProcess.h"
#include "BenchReport.h"
#include "BenchRuns.h"
#include "GlimNames.h"
#include "ServiceHarness.h"

int wmain(int argc, wchar_t** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const int nRuns = argc > 1 ? _wtoi(argv[1]) : 20;
    if (nRuns < 1)
        return 2;
    agenttest::EndStrayAgents();  // a relay that finds a main instance would relay to it
    bench::PrintSection(L"Process start and end (CreateProcessW + wait)");
    bench::SFloors floors;
    std::vector<double> relay;
    if (!bench::TimeFloors(nRuns, &floors) ||
        !bench::TimeRuns(svctest::BuildBinPath(L"Glimagent.exe"), glim::kCmdStatusChange, nRuns, &relay))
        return 1;
    const bench::SSummary gui = bench::Summarise(floors.gui);
    bench::PrintSummaryRow(L"trivial console program", bench::Summarise(floors.console), L"ms");
    bench::PrintSummaryRow(L"trivial windows program (user32, FindWindowW)", gui, L"ms");
    const bench::SSummary agent = bench::Summarise(relay);
    wchar_t szRatio[64];
    _snwprintf(szRatio, 63, L"x%.2f the windows program", gui.dMedian > 0 ? agent.dMedian / gui.dMedian : 0.0);
    bench::PrintSummaryRow(L"Glimagent.exe as a relay, no main instance", agent, L"ms", szRatio);
    return 0;
}
