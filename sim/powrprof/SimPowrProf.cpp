// powrprof.dll stand-in, loaded in place of the system's for the programs a test names
// (Wine's per-program DLL override "native"). CallNtPowerInformation answers
// SystemExecutionState from the value a test set; every other request, and the same one
// without a value, goes to ntdll's NtPowerInformation as the system DLL does.
#include <windows.h>
#include <winternl.h>
#include <powrprof.h>

#include "SimPowerProtocol.h"

namespace {

using PFN_NT_POWER_INFORMATION = LONG(NTAPI*)(POWER_INFORMATION_LEVEL, PVOID, ULONG, PVOID, ULONG);

constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);

LONG ForwardPowerInformation(POWER_INFORMATION_LEVEL level, PVOID pIn, ULONG cbIn, PVOID pOut, ULONG cbOut)
{
    static PFN_NT_POWER_INFORMATION s_pfn = reinterpret_cast<PFN_NT_POWER_INFORMATION>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtPowerInformation")));
    return s_pfn ? s_pfn(level, pIn, cbIn, pOut, cbOut) : static_cast<LONG>(0xC0000002);  // not implemented
}

bool ReadSimulatedState(DWORD* pdwState)
{
    DWORD cb = sizeof(*pdwState);
    return RegGetValueW(HKEY_CURRENT_USER, simpower::kKey, simpower::kExecutionStateValue, RRF_RT_REG_DWORD, nullptr,
                        pdwState, &cb) == ERROR_SUCCESS;
}

}  // namespace

extern "C" LONG WINAPI SimCallNtPowerInformation(POWER_INFORMATION_LEVEL level, PVOID pIn, ULONG cbIn, PVOID pOut,
                                                 ULONG cbOut)
{
    DWORD dwState = 0;
    if (level == SystemExecutionState && ReadSimulatedState(&dwState)) {
        if (!pOut || cbOut < sizeof(EXECUTION_STATE))
            return kStatusBufferTooSmall;
        *static_cast<EXECUTION_STATE*>(pOut) = dwState;
        return 0;
    }
    return ForwardPowerInformation(level, pIn, cbIn, pOut, cbOut);
}

extern "C" BOOLEAN WINAPI SimGetPwrCapabilities(PSYSTEM_POWER_CAPABILITIES pCapabilities)
{
    if (!pCapabilities) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const LONG status =
        ForwardPowerInformation(SystemPowerCapabilities, nullptr, 0, pCapabilities, sizeof(*pCapabilities));
    if (status != 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return FALSE;
    }
    return TRUE;
}
