// Start and end of a trivial program in this prefix, CreateProcessW to the end of the
// wait: the cost a design pays when it starts a relay process for every key press.
//   bench_start [RUNS]   (default 20 runs of each program, after one warm-up run)
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "ServiceHarness.h"

namespace {

// Runs the program once per sample; false (with a note) when a run fails.
bool TimeRuns(const std::wstring& program, int nRuns, std::vector<double>* pSamples)
{
    for (int i = -1; i < nRuns; ++i) {  // run -1 warms the file cache and the server up
        DWORD dwExit = 0xdeadbeef;
        const long long llStart = bench::Qpc();
        const DWORD dwErr = svctest::RunProgram(program, L"", &dwExit, 30000);
        const long long llEnd = bench::Qpc();
        if (dwErr != ERROR_SUCCESS || dwExit != 0) {
            bench::PrintNote(L"%ls: run %d failed, error %lu, exit code %lu", program.c_str(), i, dwErr, dwExit);
            return false;
        }
        if (i >= 0)
            pSamples->push_back(bench::CounterToMs(llStart, llEnd));
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const int nRuns = argc > 1 ? _wtoi(argv[1]) : 20;
    if (nRuns < 1)
        return 2;
    bench::PrintSection(L"Process start and end (CreateProcessW + wait)");
    int nFailed = 0;
    const struct {
        const wchar_t* pszFile;
        const wchar_t* pszLabel;
    } programs[] = {
        {L"bench_trivial.exe", L"trivial console program"},
        {L"bench_trivial_gui.exe", L"trivial windows program (user32, FindWindowW)"},
    };
    for (const auto& program : programs) {
        std::vector<double> samples;
        if (!TimeRuns(svctest::BuildBinPath(program.pszFile), nRuns, &samples)) {
            ++nFailed;
            continue;
        }
        bench::PrintSummaryRow(program.pszLabel, bench::Summarise(samples), L"ms");
    }
    return nFailed ? 1 : 0;
}
