// glimsensor: one command to the simulated ambient light sensors served inside the program
// that loaded them (the agent), for the demo. Leaves the sensors as they are afterwards.
// Exit code 0 when the sensor's client took the event, 1 when not, 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "SimSensorDriver.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage()
{
    wprintf(L"usage: glimsensor COMMAND SLOT [LUX]   (SLOT 0 to %d)\n"
            L"  enter SLOT LUX    a ready sensor arrives reading LUX\n"
            L"  report SLOT LUX   the sensor reports LUX\n"
            L"  notready SLOT     the sensor stops being ready\n"
            L"  leave SLOT        the sensor goes away\n",
            simsensor::kMaxSensors - 1);
    return kExitUsage;
}

HRESULT Run(glimtest::CSimSensorDriver& driver, const wchar_t* pszCommand, int nSlot, float fLux)
{
    if (wcscmp(pszCommand, L"enter") == 0)
        return driver.Enter(nSlot, fLux);
    if (wcscmp(pszCommand, L"report") == 0)
        return driver.Report(nSlot, fLux);
    if (wcscmp(pszCommand, L"notready") == 0)
        return driver.ChangeState(nSlot, simsensor::kStateNotAvailable);
    return driver.Leave(nSlot);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return Usage();
    const wchar_t* pszCommand = argv[1];
    const bool bNeedsLux = wcscmp(pszCommand, L"enter") == 0 || wcscmp(pszCommand, L"report") == 0;
    const bool bKnown = bNeedsLux || wcscmp(pszCommand, L"notready") == 0 || wcscmp(pszCommand, L"leave") == 0;
    const int nSlot = _wtoi(argv[2]);
    if (!bKnown || nSlot < 0 || nSlot >= simsensor::kMaxSensors || argc != (bNeedsLux ? 4 : 3))
        return Usage();
    const float fLux = bNeedsLux ? static_cast<float>(_wtof(argv[3])) : 0.0f;

    glimtest::CSimSensorDriver driver(false);
    if (!driver.Ok() || !driver.State().bServerRunning) {
        wprintf(L"No simulated sensor is being served (is the agent running in Auto?).\n");
        return kExitFailed;
    }
    const HRESULT hr = Run(driver, pszCommand, nSlot, fLux);
    if (hr != S_OK) {
        wprintf(L"sensor %d %ls: not taken (0x%08lX)\n", nSlot, pszCommand, static_cast<unsigned long>(hr));
        return kExitFailed;
    }
    if (bNeedsLux)
        wprintf(L"sensor %d %ls: %g lux\n", nSlot, pszCommand, fLux);
    else
        wprintf(L"sensor %d %ls\n", nSlot, pszCommand);
    return kExitOk;
}
