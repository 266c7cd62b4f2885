// Start and end of a trivial program in this prefix, CreateProcessW to the end of the
// wait: the cost a design pays when it starts a relay process for every key press; beside
// it, the agent started as a relay with no main instance to relay to (it looks for the
// main window and ends), which is what its own start costs over the floor.
//   bench_start [RUNS [AGENT]]   (default 40 runs of each program, after one warm-up round;
//                                AGENT: another build of Glimagent.exe timed alongside)
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
    const int nRuns = argc > 1 ? _wtoi(argv[1]) : 40;
    if (nRuns < 1)
        return 2;
    glimtest::EndStrayAgents();  // a relay that finds a main instance would relay to it
    bench::PrintSection(L"Process start and end (CreateProcessW + wait), the programs taking turns");
    std::vector<bench::SProgram> programs = {
        {glimtest::BuildBinPath(L"bench_trivial.exe"), L"", {}},
        {glimtest::BuildBinPath(L"bench_trivial_gui.exe"), L"", {}},
        {glimtest::BuildBinPath(L"Glimagent.exe"), glim::kCmdStatusChange, {}},
    };
    if (argc > 2)
        programs.push_back({argv[2], glim::kCmdStatusChange, {}});
    if (!bench::TimeRuns(&programs, nRuns))
        return 1;
    const bench::SSummary gui = bench::Summarise(programs[1].samples);
    bench::PrintSummaryRow(L"trivial console program", bench::Summarise(programs[0].samples), L"ms");
    bench::PrintSummaryRow(L"trivial windows program (user32, FindWindowW)", gui, L"ms");
    const bench::SSummary agent = bench::Summarise(programs[2].samples);
    wchar_t szRatio[64];
    _snwprintf(szRatio, 63, L"x%.2f the windows program", gui.dMedian > 0 ? agent.dMedian / gui.dMedian : 0.0);
    bench::PrintSummaryRow(L"Glimagent.exe as a relay, no main instance", agent, L"ms", szRatio);
    if (programs.size() > 3) {
        const bench::SSummary other = bench::Summarise(programs[3].samples);
        _snwprintf(szRatio, 63, L"x%.2f the windows program", gui.dMedian > 0 ? other.dMedian / gui.dMedian : 0.0);
        bench::PrintSummaryRow(L"the other agent build as a relay", other, L"ms", szRatio);
        bench::PrintNote(L"other agent build: %ls", argv[2]);
    }
    return 0;
}
