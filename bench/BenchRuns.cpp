#include "BenchRuns.h"

#include "BenchReport.h"
#include "ServiceHarness.h"

namespace bench {

bool TimeRuns(const std::wstring& program, const std::wstring& arguments, int nRuns, std::vector<double>* pSamples)
{
    for (int i = -1; i < nRuns; ++i) {  // run -1 warms the file cache and the server up
        DWORD dwExit = 0xdeadbeef;
        const long long llStart = Qpc();
        const DWORD dwErr = svctest::RunProgram(program, arguments, &dwExit, 30000);
        const long long llEnd = Qpc();
        if (dwErr != ERROR_SUCCESS || dwExit != 0) {
            PrintNote(L"%ls: run %d failed, error %lu, exit code %lu", program.c_str(), i, dwErr, dwExit);
            return false;
        }
        if (i >= 0)
            pSamples->push_back(CounterToMs(llStart, llEnd));
    }
    return true;
}

bool TimeFloors(int nRuns, SFloors* pFloors)
{
    return TimeRuns(svctest::BuildBinPath(L"bench_trivial.exe"), L"", nRuns, &pFloors->console) &&
           TimeRuns(svctest::BuildBinPath(L"bench_trivial_gui.exe"), L"", nRuns, &pFloors->gui);
}

}  // namespace bench
