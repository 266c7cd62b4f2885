// The running programs around a replacement of their files: the service stopped through its
// control manager and this desktop's agents ended, what ran written down so that it can be
// started again, and the program files checked for a process that still holds them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "InstallLayout.h"
#include "Verb.h"

namespace glimsetup {

// Where the verbs act. The defaults are the product's; tests give names and keys of their own.
struct SSetupPlace {
    std::wstring strProgramDir;  // the folder of the programs, no trailing backslash
    std::wstring strServiceName = glim::kServiceName;
    std::wstring strAgentTitle = glim::kAgentWindowTitle;
    // The record of what the last stop found running (a key of the 64-bit view).
    HKEY hRecordRoot = HKEY_LOCAL_MACHINE;
    std::wstring strRecordKey = glim::kSetupStateKey;
    // Bounds of the waits on what this program does not control.
    DWORD dwServiceWaitMs = 30000;
    DWORD dwAgentExitMs = 10000;
};

// The number of agent main instances a stop ends at most.
constexpr int kMaxAgentsEnded = 8;

// The service's state (SERVICE_STOPPED ... SERVICE_PAUSED), or 0 when it is not registered or
// cannot be queried.
DWORD QueryServiceState(const std::wstring& strName);

// Waits, bounded, until the service reports dwWanted; hands back the last state seen.
bool AwaitServiceState(SC_HANDLE hService, DWORD dwWanted, DWORD dwTimeoutMs, DWORD* pdwLast);

// Starts the service (one that runs already counts) and waits, bounded, until it runs.
bool StartServiceAndWait(CVerb* pVerb, const std::wstring& strName, DWORD dwTimeoutMs);

// Stops the service and ends this desktop's agents, writing down first what ran; fails when
// something does not stop within its bound or the record cannot be written.
SVerbResult StopPrograms(const SSetupPlace& place);

// Every program file present in the folder can be opened for exclusive write and delete; the
// helper itself is in use by its own run and is left to the setup program's file copy.
SVerbResult CheckReplaceable(const std::wstring& strProgramDir);

// Starts again what the last stop recorded (the agent through startAgent), then deletes the
// record. No record: nothing to do.
SVerbResult RestorePrograms(const SSetupPlace& place, const std::function<SVerbResult()>& startAgent);

}  // namespace glimsetup
