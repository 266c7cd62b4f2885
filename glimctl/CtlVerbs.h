// The verbs beside doctor: status, set and report. Each returns its exit code and puts what
// it has to say into the given text (one line for a failure). Verbs() is the table of every
// verb, doctor's and the version's included.
#pragma once

#include <string>
#include <vector>

#include "CtlRules.h"

namespace glimctl {

// Every verb, in the order of the usage text.
const std::vector<SVerb>& Verbs();

// What status shows: the settings as stored, the device now, and who runs.
struct SStatus {
    DWORD dwStatus = 0;
    DWORD dwBrightness = 0;
    DWORD dwCurrentBrightness = 0;
    bool bDeviceAnswers = false;
    INT32 nDeviceLevel = 0;
    std::wstring strIdle;
    DWORD dwFullScreen = 0;
    std::wstring strTitles;
    DWORD dwDarknessLux = 0;
    DWORD dwDimIndoorsLux = 0;
    bool bServiceRuns = false;
    bool bAgentRuns = false;
    DWORD dwPowerCapsError = ERROR_SUCCESS;  // Modern Standby unknown unless ERROR_SUCCESS
    bool bModernStandby = false;
};

// Reads the status under the configuration lock. False with a reason when the lock is held.
bool CollectStatus(SStatus* pStatus, std::wstring* pstrError);
std::wstring FormatStatus(const SStatus& status);
std::wstring FormatStatusJson(const SStatus& status);

int RunStatus(bool bJson, std::wstring* pstrOut);
int RunSet(const SCommand& command, std::wstring* pstrOut);
int RunReport(const std::wstring& strFile, std::wstring* pstrOut);

}  // namespace glimctl
