#include "BenchRuns.h"

#include "BenchReport.h"
#include "ServiceHarness.h"

namespace bench {

bool TimeRuns(std::vector<SProgram>* pPrograms, int nRuns)
{
    for (int i = -1; i < nRuns; ++i) {  // round -1 warms the file cache and the server up
        for (SProgram& program : *pPrograms) {
            DWORD dwExit = 0xdeadbeef;
            const long long llStart = Qpc();
            const DWORD dwErr = glimtest::RunProgram(program.path, program.arguments, &dwExit, 30000);
            const long long llEnd = Qpc();
            if (dwErr != ERROR_SUCCESS || dwExit != 0) {
                PrintNote(L"%ls: run %d failed, error %lu, exit code %lu", program.path.c_str(), i, dwErr, dwExit);
                return false;
            }
            if (i >= 0)
                program.samples.push_back(CounterToMs(llStart, llEnd));
        }
    }
    return true;
}

bool TimeFloors(int nRuns, SFloors* pFloors)
{
    std::vector<SProgram> programs = {{glimtest::BuildBinPath(L"bench_trivial.exe"), L"", {}},
                                      {glimtest::BuildBinPath(L"bench_trivial_gui.exe"), L"", {}}};
    if (!TimeRuns(&programs, nRuns))
        return false;
    pFloors->console = programs[0].samples;
    pFloors->gui = programs[1].samples;
    return true;
}

}  // namespace bench
