// The agent's own log: one file registered under the module name "Glimagent" in the
// process-wide map, set up by the main instance and removed when its main window goes.
#pragma once

#include "LogFileMap.h"

namespace logfilesync {

constexpr const wchar_t* kAgentModuleName = L"Glimagent";

// The process-wide map, constructed before wWinMain runs.
extern CLogFileMap g_logFileMap;

// Main instance start: StartModuleLog under the agent's name. True when logging is on.
bool StartAgentLog();

// Main window destruction: StopModuleLog under the agent's name.
void StopAgentLog();

}  // namespace logfilesync
